#include "app/TextBox.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/FormControls.h"

namespace vandrel {

tTextBox::tTextBox(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("TextBox");
  setAttribute(Qt::WA_DeleteOnClose);
  mmText = NewMemo(this, "mmText");
  // Matrices line up in a fixed-width font.
  mmText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  mmText->setTabStopDistance(8 * mmText->fontMetrics().horizontalAdvance(' '));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(mmText);
  resize(560, 420);
}

void tTextBox::SetText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace("\r\n", "\n");
  mmText->setPlainText(shown);
}

}  // namespace vandrel
