#include <QApplication>

#include "Utile/Platform.h"
#include "mapfiles/dlgKelvoraU.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  utile::SetMessagePump([] { QCoreApplication::processEvents(); });
  kelvora::TdlgKelvora mainWindow;
  mainWindow.show();
  return application.exec();
}
