#include "app/FormControls.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <algorithm>

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

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, bool checked) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setChecked(checked);
  return box;
}

QRadioButton* NewRadioButton(QWidget* parent, const char* name, const char* caption, bool checked) {
  auto* button = new QRadioButton(caption, parent);
  button->setObjectName(name);
  button->setChecked(checked);
  return button;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

QGroupBox* NewGroupBox(QWidget* parent, const char* name, const char* caption) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(name);
  return box;
}

QLabel* NewLabel(QWidget* parent, const char* name, const char* caption, QWidget* buddy) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setBuddy(buddy);
  return label;
}

QAction* NewAction(QWidget* owner, const char* name, const char* caption, const QKeySequence& shortcut) {
  auto* action = new QAction(caption, owner);
  action->setObjectName(name);
  action->setShortcut(shortcut);
  owner->addAction(action);
  return action;
}

QWidget* NewTabPage(QTabWidget* tabs, const char* name, const char* caption) {
  auto* page = new QWidget;
  page->setObjectName(name);
  tabs->addTab(page, caption);
  return page;
}

QPlainTextEdit* NewMemo(QWidget* parent, const char* name, bool wrapLines) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(name);
  memo->setReadOnly(true);
  if (!wrapLines) memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  return memo;
}

// ------------------------------------------------------------ values

void SetSpinValue(QSpinBox* spin, int64_t value) {
  spin->setValue(static_cast<int>(std::clamp<int64_t>(value, spin->minimum(), spin->maximum())));
}

}  // namespace vandrel
