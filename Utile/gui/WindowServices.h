// What every window of both programs shares: the application that shows the
// errors a handler lets pass, the message pump that keeps the windows alive
// during long computations, the hour-glass cursor that is put back on every
// path, and the one place through which a window asks the user something (file
// choosers, questions, message boxes), so that a test can answer in place of a
// person.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace utile::gui {

// ------------------------------------------------------------ the program

// The application of a program. An error that a window's handler lets pass ends
// up here: its message is shown in an error box and the program goes on with the
// next message. Once made, it has taken the user's decimal separator
// (utile::TakeUserNumericLocale) and set LC_NUMERIC back to "C".
class tApplication : public QApplication {
 public:
  tApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// ------------------------------------------------------------ message pump

// Installs the hook through which the computations let pending window messages
// through (utile::ProcessMessages).
void InstallMessagePump();
// How many message pumps are running inside one another right now: above 0, a
// computation is on the stack below the handler that runs.
int MessagePumpDepth();

// ---------------------------------------------------------- hour-glass cursor

// Shows the hour-glass for its lifetime; the cursor comes back also when an
// exception passes. Guards may nest.
class tHourGlass {
 public:
  tHourGlass();
  ~tHourGlass();
  tHourGlass(const tHourGlass&) = delete;
  tHourGlass& operator=(const tHourGlass&) = delete;
};

// ------------------------------------------------------------ user dialogs

enum class tDialogResult { drNone, drAppend, drReplace, drCancel };

enum class tMessageKind { mkInformation, mkWarning, mkError, mkConfirmation };

// The questions the programs ask; the answers of a person by default. Tests
// install their own answers with SetDialogs. Filters are written as pairs
// separated by "|": "Model files (*.model)|*.model|All files (*.*)|*.*".
class tUserDialogs {
 public:
  virtual ~tUserDialogs() = default;

  // The chosen file, or nothing when the user cancels. A name typed without an
  // extension gets defaultExtension (without its dot; empty: none).
  virtual std::optional<std::string> OpenFileName(QWidget* parent, const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& defaultExtension);
  // Several files at once; empty when the user cancels.
  virtual std::vector<std::string> OpenFileNames(QWidget* parent, const std::string& title,
                                                 const std::string& filter);
  // Asks before overwriting when askOverwrite is set.
  virtual std::optional<std::string> SaveFileName(QWidget* parent, const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& defaultExtension, bool askOverwrite);
  // What to do with an existing result file: drAppend, drReplace or drCancel.
  // A person is asked through the program's own question when it installed one
  // (SetFileExistsQuestion), else through a box with the three buttons.
  virtual tDialogResult FileExists(const std::string& message);
  // A message with an OK button.
  virtual void ShowMessage(QWidget* parent, const std::string& text, tMessageKind kind);
  // A Yes/No question: true for Yes.
  virtual bool Confirm(QWidget* parent, const std::string& text);
  // An OK/Cancel question: true for OK.
  virtual bool ConfirmOkCancel(QWidget* parent, const std::string& text);
};

// The dialogs in force (a person's unless a test installed others).
tUserDialogs& Dialogs();
// Installs other answers; nullptr puts the person's dialogs back.
void SetDialogs(std::unique_ptr<tUserDialogs> dialogs);

// The window through which a person answers FileExists (empty: the plain box).
void SetFileExistsQuestion(std::function<tDialogResult(const std::string& message)> question);

// Runs a window's command: an error it lets pass is shown in an error box over
// parent, unless silent (asked then) says the error is told elsewhere.
void Guarded(QWidget* parent, const std::function<void()>& command, const std::function<bool()>& silent = {});

// "A (*.a)|*.a|B (*.b)|*.b" as the toolkit's filter "A (*.a);;B (*.b)".
QString DialogFilter(const std::string& filter);
// The file name with defaultExtension added when the name has none.
std::string WithDefaultExtension(const std::string& fileName, const std::string& defaultExtension);

}  // namespace utile::gui
