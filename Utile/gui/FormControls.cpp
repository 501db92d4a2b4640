#include "Utile/gui/FormControls.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <memory>

namespace utile::gui {

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

QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, QWidget* buddy) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setBuddy(buddy);
  return label;
}

QLineEdit* NewEdit(QWidget* parent, const char* name, const char* text) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  return edit;
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

QPlainTextEdit* NewLogMemo(QWidget* parent, const char* name, bool wrapLines, int lines) {
  QPlainTextEdit* memo = NewMemo(parent, name, wrapLines);
  QScrollBar* bar = memo->verticalScrollBar();
  // Whether the memo is at its end: where it was when it last scrolled. The
  // memo's own following is left out while it is out of sight, and text set
  // anew starts at the top; here new lines always bring the view along.
  auto following = std::make_shared<bool>(true);
  QObject::connect(bar, &QScrollBar::valueChanged, memo,
                   [bar, following](int value) { *following = value >= bar->maximum(); });
  QObject::connect(bar, &QScrollBar::rangeChanged, memo, [bar, following](int, int maximum) {
    if (*following) bar->setValue(maximum);
  });
  const QFontMetrics metrics(memo->font());
  memo->setMinimumHeight(lines * metrics.lineSpacing() + 2 * memo->frameWidth() +
                         int(2 * memo->document()->documentMargin()) + 2);
  return memo;
}

}  // namespace utile::gui
