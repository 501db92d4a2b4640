// Answers to the programs' questions, given by a test in place of a person.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "Utile/gui/WindowServices.h"

namespace testsupport {

class tScriptedDialogs : public utile::gui::tUserDialogs {
 public:
  // The answers, taken in order; an empty queue answers "cancel".
  std::deque<std::optional<std::string>> FileNames;
  std::deque<std::vector<std::string>> FileNameLists;
  std::deque<utile::gui::tDialogResult> FileExistsAnswers;
  std::deque<bool> Confirmations;

  // What was asked.
  std::vector<std::string> Titles;
  std::vector<std::string> Filters;
  std::vector<std::string> Messages;
  std::vector<utile::gui::tMessageKind> Kinds;  // one per message; questions are mkConfirmation
  std::vector<std::string> FileExistsMessages;

  std::optional<std::string> OpenFileName(QWidget*, const std::string& title, const std::string& filter,
                                          const std::string&) override {
    return NextName(title, filter);
  }
  std::vector<std::string> OpenFileNames(QWidget*, const std::string& title,
                                         const std::string& filter) override {
    Titles.push_back(title);
    Filters.push_back(filter);
    if (FileNameLists.empty()) return {};
    auto names = FileNameLists.front();
    FileNameLists.pop_front();
    return names;
  }
  std::optional<std::string> SaveFileName(QWidget*, const std::string& title, const std::string& filter,
                                          const std::string&, bool) override {
    return NextName(title, filter);
  }
  utile::gui::tDialogResult FileExists(const std::string& message) override {
    FileExistsMessages.push_back(message);
    if (FileExistsAnswers.empty()) return utile::gui::tDialogResult::drCancel;
    const auto answer = FileExistsAnswers.front();
    FileExistsAnswers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget*, const std::string& text, utile::gui::tMessageKind kind) override {
    Messages.push_back(text);
    Kinds.push_back(kind);
  }
  // Yes/No and OK/Cancel questions take their answers from one queue.
  bool Confirm(QWidget*, const std::string& text) override { return NextConfirmation(text); }
  bool ConfirmOkCancel(QWidget*, const std::string& text) override { return NextConfirmation(text); }

 private:
  bool NextConfirmation(const std::string& text) {
    Messages.push_back(text);
    Kinds.push_back(utile::gui::tMessageKind::mkConfirmation);
    if (Confirmations.empty()) return false;
    const bool answer = Confirmations.front();
    Confirmations.pop_front();
    return answer;
  }
  std::optional<std::string> NextName(const std::string& title, const std::string& filter) {
    Titles.push_back(title);
    Filters.push_back(filter);
    if (FileNames.empty()) return std::nullopt;
    auto name = FileNames.front();
    FileNames.pop_front();
    return name;
  }
};

// Installs a fresh scripted set of answers and returns it (owned by the seam).
inline tScriptedDialogs& InstallScriptedDialogs() {
  auto dialogs = std::make_unique<tScriptedDialogs>();
  tScriptedDialogs& result = *dialogs;
  utile::gui::SetDialogs(std::move(dialogs));
  return result;
}

}  // namespace testsupport
