#include "mapfiles/dlgKelvoraU.h"

namespace kelvora {

TdlgKelvora::TdlgKelvora(QWidget* parent) : QMainWindow(parent) {
  setObjectName("dlgKelvora");
  setWindowTitle("Kelvora");
  resize(900, 600);
}

}  // namespace kelvora
