// A window that shows a text to read and copy, such as a listing of matrices.
#pragma once

#include <QWidget>
#include <string>

class QPlainTextEdit;

namespace vandrel {

class tTextBox : public QWidget {
  Q_OBJECT
 public:
  // A window of its own above parent, freed when it is closed.
  explicit tTextBox(QWidget* parent = nullptr);

  QPlainTextEdit* mmText;

  // The text shown; CR LF and LF line ends alike.
  void SetText(const std::string& text);
};

}  // namespace vandrel
