// The help window of the map-file manager: a read-only text, shown beside the
// main window (not modal).
#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace kelvora {

class TfKelvoraHelp : public QWidget {
  Q_OBJECT
 public:
  explicit TfKelvoraHelp(QWidget* parent = nullptr);
  ~TfKelvoraHelp() override;

  QPlainTextEdit* mmHelp;
};

// The help window made at start-up (nullptr before).
extern TfKelvoraHelp* fKelvoraHelp;

}  // namespace kelvora
