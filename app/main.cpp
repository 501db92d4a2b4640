#include <QApplication>

#include "app/AboutBoxU.h"
#include "app/DevHistoryU.h"
#include "app/WindowServices.h"
#include "app/dlgFileExistsU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgProgressU.h"
#include "app/dlgVandrelU.h"

int main(int argc, char* argv[]) {
  using namespace vandrel;
  QApplication application(argc, argv);
  QApplication::setApplicationName("Vandrel");
  // Long computations let pending window messages through with this hook.
  InstallMessagePump();

  // The windows in their order of creation; the main window owns the others.
  TdlgVandrel mainWindow;
  dlgVandrel = &mainWindow;
  dlgProgress = new TdlgProgress(&mainWindow);
  AboutBox = new TAboutBox(&mainWindow);
  dlgFileExists = new TdlgFileExists(&mainWindow);
  dlgPatchData = new TdlgPatchData(&mainWindow);
  DevHistory = new TDevHistory(&mainWindow);
  mainWindow.show();
  return application.exec();
}
