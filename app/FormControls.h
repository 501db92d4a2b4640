// The controls of Vandrel's windows, made with the object names by which tests,
// batches and model files find them. Every window builds its controls through
// these, so that a spin edit or a captioned edit is the same everywhere; those that
// both programs use come from the shared constructors under their usual names.
#pragma once

#include <cstdint>

#include "Utile/gui/FormControls.h"

class QLineEdit;
class QSpinBox;

namespace vandrel {

class tLabeledEdit;

QSpinBox* NewSpinEdit(QWidget* parent, const char* name, int minimum, int maximum, int value,
                      int step = 1);
// The caption's label is named after the edit with "Label" appended; a hint shows on both.
tLabeledEdit* NewLabeledEdit(QWidget* parent, const char* name, const char* caption, const char* text,
                             const char* hint = nullptr);

using utile::gui::NewAction;
using utile::gui::NewButton;
using utile::gui::NewCheckBox;
using utile::gui::NewGroupBox;
using utile::gui::NewLabel;
using utile::gui::NewLogMemo;
using utile::gui::NewMemo;
using utile::gui::NewRadioButton;
using utile::gui::NewTabPage;

// ------------------------------------------------------------ values
// The real typed in an edit, with either decimal separator; fallback when it cannot be read.
double ReadReal(const QLineEdit* edit, double fallback);
// Sets the spin edit to the value held to its bounds.
void SetSpinValue(QSpinBox* spin, int64_t value);

}  // namespace vandrel
