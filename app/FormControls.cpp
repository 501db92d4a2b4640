#include "app/FormControls.h"

#include <QLabel>
#include <QSpinBox>

#include "app/TaggedControls.h"

namespace vandrel {

QSpinBox* NewSpinEdit(QWidget* parent, const char* name, int minimum, int maximum, int value, int step) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(minimum, maximum);
  spin->setSingleStep(step);
  spin->setValue(value);
  return spin;
}

tLabeledEdit* NewLabeledEdit(QWidget* parent, const char* name, const char* caption, const char* text,
                             const char* hint) {
  auto* edit = new tLabeledEdit(caption, text, parent);
  edit->setObjectName(name);
  edit->EditLabel->setObjectName(QString(name) + "Label");
  if (hint) {
    edit->setToolTip(hint);
    edit->EditLabel->setToolTip(hint);
  }
  return edit;
}

}  // namespace vandrel
