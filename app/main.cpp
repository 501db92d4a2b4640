#include <QApplication>

#include "app/AboutBoxU.h"
#include "app/DevHistoryU.h"
#include "app/WindowServices.h"
#include "app/dlgBigMatrixOptionsU.h"
#include "app/dlgBigMatrixU.h"
#include "app/dlgFileExistsU.h"
#include "app/dlgGraphModelU.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgMatrixModelU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgProgressU.h"
#include "app/dlgVandrelU.h"

int main(int argc, char* argv[]) {
  using namespace vandrel;
  // Errors that a window's handler lets pass are shown, and the program goes on.
  tApplication application(argc, argv);
  QApplication::setApplicationName("Vandrel");
  // Long computations let pending window messages through with this hook.
  InstallMessagePump();
  // A result file that exists already is asked about in Vandrel's own dialog.
  SetFileExistsQuestion([](const std::string& message) {
    if (dlgFileExists) return dlgFileExists->Execute(message);
    TdlgFileExists dialog;
    return dialog.Execute(message);
  });

  // The windows in their order of creation; the main window owns the others.
  TdlgVandrel mainWindow;
  dlgVandrel = &mainWindow;
  mainWindow.SetWorkbenchFactory(tWorkbenchKind::wkIBSimple,
                                 [](TdlgVandrel* main) { return new TdlgIBSimple(main); });
  mainWindow.SetWorkbenchFactory(tWorkbenchKind::wkBigMatrix,
                                 [](TdlgVandrel* main) { return new TdlgBigMatrix(main); });
  mainWindow.SetWorkbenchFactory(tWorkbenchKind::wkGraph,
                                 [](TdlgVandrel* main) { return new TdlgGraphModel(main); });
  mainWindow.SetWorkbenchFactory(tWorkbenchKind::wkMatrix,
                                 [](TdlgVandrel* main) { return new TdlgMatrixModel(main); });
  dlgProgress = new TdlgProgress(&mainWindow);
  AboutBox = new TAboutBox(&mainWindow);
  dlgBigMatrixOptions = new TdlgBigMatrixOptions(&mainWindow);
  dlgFileExists = new TdlgFileExists(&mainWindow);
  dlgPatchData = new TdlgPatchData(&mainWindow);
  DevHistory = new TDevHistory(&mainWindow);
  // Closing the main window ends the program, whatever other windows are open.
  QObject::connect(&mainWindow, &TdlgVandrel::Closed, &application, &QCoreApplication::quit);
  mainWindow.show();
  return application.exec();
}
