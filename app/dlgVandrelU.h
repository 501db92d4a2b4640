#pragma once

#include <QMainWindow>

namespace vandrel {

// The main window of Vandrel: the landscape editor and the model menu.
class TdlgVandrel : public QMainWindow {
  Q_OBJECT
public:
  explicit TdlgVandrel(QWidget* parent = nullptr);
};

}  // namespace vandrel
