#include <QApplication>

#include "Utile/Platform.h"
#include "app/dlgVandrelU.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // Long computations let pending window messages through with this hook.
  utile::SetMessagePump([] { QCoreApplication::processEvents(); });
  vandrel::TdlgVandrel mainWindow;
  mainWindow.show();
  return application.exec();
}
