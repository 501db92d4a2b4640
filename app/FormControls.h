// The controls of Vandrel's windows, made with the object names by which tests,
// batches and model files find them. Every window builds its controls through
// these, so that a spin edit or a captioned edit is the same everywhere.
#pragma once

#include <QKeySequence>
#include <cstdint>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace vandrel {

class tLabeledEdit;

QSpinBox* NewSpinEdit(QWidget* parent, const char* name, int minimum, int maximum, int value,
                      int step = 1);
// The caption's label is named after the edit with "Label" appended; a hint shows on both.
tLabeledEdit* NewLabeledEdit(QWidget* parent, const char* name, const char* caption, const char* text,
                             const char* hint = nullptr);
QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, bool checked = false);
QRadioButton* NewRadioButton(QWidget* parent, const char* name, const char* caption,
                             bool checked = false);
QPushButton* NewButton(QWidget* parent, const char* name, const char* caption);
QGroupBox* NewGroupBox(QWidget* parent, const char* name, const char* caption);
QLabel* NewLabel(QWidget* parent, const char* name, const char* caption, QWidget* buddy = nullptr);
// An action of Owner: its shortcut works anywhere in Owner's window.
QAction* NewAction(QWidget* owner, const char* name, const char* caption, const QKeySequence& shortcut);
// A new last page of Tabs.
QWidget* NewTabPage(QTabWidget* tabs, const char* name, const char* caption);
// A read-only memo; model descriptions, matrices and logs keep their lines unwrapped.
QPlainTextEdit* NewMemo(QWidget* parent, const char* name, bool wrapLines = false);

// ------------------------------------------------------------ values
// Sets the spin edit to the value held to its bounds.
void SetSpinValue(QSpinBox* spin, int64_t value);

}  // namespace vandrel
