// The controls of both programs' windows, made with the object names by which
// tests, batches and model files find them. Every window builds its controls
// through these, so that a button or a memo is the same everywhere.
#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace utile::gui {

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, bool checked = false);
QRadioButton* NewRadioButton(QWidget* parent, const char* name, const char* caption, bool checked = false);
QPushButton* NewButton(QWidget* parent, const char* name, const char* caption);
QGroupBox* NewGroupBox(QWidget* parent, const char* name, const char* caption);
// Captions of labels may be made at run time (versions, program names).
QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, QWidget* buddy = nullptr);
QLineEdit* NewEdit(QWidget* parent, const char* name, const char* text);
// An action of Owner: its shortcut works anywhere in Owner's window.
QAction* NewAction(QWidget* owner, const char* name, const char* caption, const QKeySequence& shortcut);
// A new last page of Tabs.
QWidget* NewTabPage(QTabWidget* tabs, const char* name, const char* caption);
// A read-only memo; model descriptions, matrices and logs keep their lines unwrapped.
QPlainTextEdit* NewMemo(QWidget* parent, const char* name, bool wrapLines = false);
// A memo of messages that keeps its last line in view as lines come (also while
// it is out of sight), until the user scrolls away from the end; scrolled back
// to the end, it follows again. At least Lines lines high.
QPlainTextEdit* NewLogMemo(QWidget* parent, const char* name, bool wrapLines, int lines);

}  // namespace utile::gui
