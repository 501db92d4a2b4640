// The window base of the map-file manager: at its creation it takes the raster
// file convention of the program's folder, reopens the folder the program last
// worked in (WorkDir.ini beside the executable) and follows the command line
// ("call" and a folder); when it closes it writes the current folder back.
#pragma once

#include <QMainWindow>
#include <string>
#include <vector>

namespace kelvora {

// The folder that stands for the executable's, with a trailing delimiter:
// WorkDir.ini, idrisi.env and the map viewer lie there. Tests name another one.
std::string ProgramFolder();
// "" puts the executable's own folder back.
void SetProgramFolder(const std::string& folder);

// The command-line arguments after the program's name (the application's unless
// a test gave others).
std::vector<std::string> ProgramArguments();
void SetProgramArguments(std::vector<std::string> arguments);
void ResetProgramArguments();

// The settings file of the last working folder.
std::string WorkDirFileName();

class TCustomPalometDialog : public QMainWindow {
  Q_OBJECT
 public:
  explicit TCustomPalometDialog(QWidget* parent = nullptr);

 protected:
  // Called by the derived window's own creation, before anything else of it:
  // the file convention, then WorkDir.ini, then the command line; a folder that
  // cannot be entered is passed over.
  void FormCreate();
  // Writes the current folder to WorkDir.ini (one more try after a failure; a
  // failure is not reported).
  void FormClose();
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace kelvora
