// Key filters of numeric edit boxes (a filter sees each typed character; a
// rejected one is replaced by the character 0 and never reaches the box), and
// lines of text made into a memo's text.
#pragma once

#include <QString>

#include "Utile/CommonDecl.h"

class QLineEdit;

namespace utile::gui {

// Backspace (8), carriage return (13), character 16, "-", "." and the digits.
void EditReal(char& key);
// The same and ",".
void EditRealList(char& key);
// Backspace, carriage return, character 16, "+", "-", ".", the digits, "E", "e".
void EditScientific(char& key);

using tKeyFilter = void (*)(char& key);
// Runs the filter on the characters typed into the edit box. Shortcuts (with
// Ctrl, Alt or Meta) and keys that type nothing (arrows, Delete) pass untouched.
void InstallKeyFilter(QLineEdit* edit, tKeyFilter filter);

// The lines joined by LF, as a memo takes them.
QString JoinLines(const tVectorOfString& lines);

}  // namespace utile::gui
