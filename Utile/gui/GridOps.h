// Fitting the columns of a table to their text.
#pragma once

class QTableWidget;

namespace utile::gui {

// Every column gets the width of its widest text (header included), measured
// with the table's fonts, plus Margin pixels.
void FitColWidths(QTableWidget* grid, int margin);
// The same, but a column already wide enough keeps its width: for a table
// filled anew, whose columns the user may have widened.
void WidenColsToFit(QTableWidget* grid, int margin);

}  // namespace utile::gui
