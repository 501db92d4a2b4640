#include "app/dlgVandrelU.h"

namespace vandrel {

TdlgVandrel::TdlgVandrel(QWidget* parent) : QMainWindow(parent) {
  setObjectName("dlgVandrel");
  setWindowTitle("Vandrel");
  resize(1000, 700);
}

}  // namespace vandrel
