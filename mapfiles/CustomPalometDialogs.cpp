#include "mapfiles/CustomPalometDialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <filesystem>
#include <optional>

#include "Utile/Idrisi.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace kelvora {

namespace {
std::string gProgramFolder;
std::optional<std::vector<std::string>> gArguments;

void EnterFolder(const std::string& folder) {
  std::error_code error;
  if (!folder.empty()) std::filesystem::current_path(folder, error);
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
}  // namespace

std::string ProgramFolder() {
  return gProgramFolder.empty() ? utile::ExecutableFolder() : utile::IncludeTrailingPathDelimiter(gProgramFolder);
}

void SetProgramFolder(const std::string& folder) { gProgramFolder = folder; }

std::vector<std::string> ProgramArguments() {
  if (gArguments) return *gArguments;
  std::vector<std::string> arguments;
  const QStringList all = QCoreApplication::arguments();
  for (qsizetype i = 1; i < all.size(); ++i) arguments.push_back(all[i].toStdString());
  return arguments;
}

void SetProgramArguments(std::vector<std::string> arguments) { gArguments = std::move(arguments); }

void ResetProgramArguments() { gArguments.reset(); }

std::string WorkDirFileName() { return ProgramFolder() + "WorkDir.ini"; }

TCustomPalometDialog::TCustomPalometDialog(QWidget* parent) : QMainWindow(parent) {}

void TCustomPalometDialog::FormCreate() {
  utile::EnvironnementIdrisi(ProgramFolder());
  if (utile::FileExists(WorkDirFileName())) {
    try {
      EnterFolder(FirstLine(utile::LoadTextFromFile(WorkDirFileName())));
    } catch (const std::exception&) {
      // An unreadable settings file is no worse than a missing one.
    }
  }
  const std::vector<std::string> arguments = ProgramArguments();
  if (arguments.size() >= 2 && utile::LowerCase(arguments[0]) == "call") EnterFolder(arguments[1]);
}

void TCustomPalometDialog::FormClose() {
  std::error_code error;
  const std::string folder = std::filesystem::current_path(error).string();
  if (error) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      utile::SaveTextToFile(WorkDirFileName(), folder + "\n");
      return;
    } catch (const std::exception&) {
    }
  }
}

void TCustomPalometDialog::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

}  // namespace kelvora
