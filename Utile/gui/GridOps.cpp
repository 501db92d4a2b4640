#include "Utile/gui/GridOps.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTableWidget>

namespace utile::gui {

namespace {

// The widest text of a column, header included, in pixels.
int WidestText(const QTableWidget* grid, int column) {
  const QFontMetrics cellMetrics(grid->font());
  const QFontMetrics headerMetrics(grid->horizontalHeader()->font());
  int widest = 0;
  if (const QTableWidgetItem* header = grid->horizontalHeaderItem(column))
    widest = headerMetrics.horizontalAdvance(header->text());
  for (int row = 0; row < grid->rowCount(); ++row)
    if (const QTableWidgetItem* item = grid->item(row, column))
      widest = std::max(widest, cellMetrics.horizontalAdvance(item->text()));
  return widest;
}

}  // namespace

void FitColWidths(QTableWidget* grid, int margin) {
  for (int column = 0; column < grid->columnCount(); ++column)
    grid->setColumnWidth(column, WidestText(grid, column) + margin);
}

void WidenColsToFit(QTableWidget* grid, int margin) {
  for (int column = 0; column < grid->columnCount(); ++column) {
    const int needed = WidestText(grid, column) + margin;
    if (grid->columnWidth(column) < needed) grid->setColumnWidth(column, needed);
  }
}

}  // namespace utile::gui
