#include "app/dlgProgressU.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "Utile/RunTime.h"

namespace vandrel {

TdlgProgress* dlgProgress = nullptr;

TdlgProgress::TdlgProgress(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgProgress");
  setWindowTitle("Progress");
  lblTask = new QLabel(this);
  lblTask->setObjectName("lblTask");
  ggTask = new QProgressBar(this);
  ggTask->setObjectName("ggTask");
  ggTask->setRange(0, 1000);
  ggTask->setValue(0);
  timProgress = new QTimer(this);
  timProgress->setObjectName("timProgress");
  timProgress->setInterval(2000);
  connect(timProgress, &QTimer::timeout, this, &TdlgProgress::timProgressTimer);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblTask);
  layout->addWidget(ggTask);
}

void TdlgProgress::timProgressTimer() {
  // Nothing to do yet shows an empty gauge rather than a division by zero.
  const int64_t value = ToDo == 0 ? 0 : utile::Round(static_cast<long double>(Done) / ToDo * 1000);
  ggTask->setValue(static_cast<int>(std::min<int64_t>(value, 1000)));
}

}  // namespace vandrel
