#include <QApplication>
#include <memory>

#include "Utile/gui/WindowServices.h"
#include "mapfiles/Kelvora.h"
#include "mapfiles/dlgKelvoraU.h"

int main(int argc, char* argv[]) {
  // The map-file manager keeps the older behaviours of the shared toolkit.
  kelvora::InitialiseToolkit();
  // Errors that a window's handler lets pass are shown, and the program goes on.
  utile::gui::tApplication application(argc, argv);
  QApplication::setApplicationName("Kelvora");
  utile::gui::InstallMessagePump();
  std::unique_ptr<kelvora::TdlgKelvora> mainWindow(kelvora::CreateKelvoraWindows());
  // Closing the main window ends the program, whatever other windows are open.
  QObject::connect(mainWindow.get(), &kelvora::TdlgKelvora::Closed, &application, &QCoreApplication::quit);
  mainWindow->show();
  return application.exec();
}
