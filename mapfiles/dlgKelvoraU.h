#pragma once

#include <QMainWindow>

namespace kelvora {

// The main window of Kelvora: the file list of raster maps and their operations.
class TdlgKelvora : public QMainWindow {
  Q_OBJECT
public:
  explicit TdlgKelvora(QWidget* parent = nullptr);
};

}  // namespace kelvora
