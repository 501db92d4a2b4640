// A small window with a gauge for long tasks.
#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QProgressBar;
class QTimer;

namespace vandrel {

class TdlgProgress : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgProgress(QWidget* parent = nullptr);

  QProgressBar* ggTask;  // 0..1000
  QLabel* lblTask;
  QTimer* timProgress;  // 2000 ms, off at start

  uint32_t ToDo = 0;
  uint32_t Done = 0;
  bool Working = false;

  // One timer tick: the gauge shows Done / ToDo in thousandths.
  void timProgressTimer();
};

extern TdlgProgress* dlgProgress;

}  // namespace vandrel
