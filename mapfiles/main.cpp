#include <QApplication>

#include "Utile/Platform.h"
#include "Utile/ToolkitVariant.h"
#include "mapfiles/dlgKelvoraU.h"

int main(int argc, char* argv[]) {
  // The map-file manager keeps the older behaviours of the shared toolkit.
  utile::SetToolkitVariant(utile::tToolkitVariant::tvMapFileManager);
  QApplication application(argc, argv);
  utile::SetMessagePump([] { QCoreApplication::processEvents(); });
  kelvora::TdlgKelvora mainWindow;
  mainWindow.show();
  return application.exec();
}
