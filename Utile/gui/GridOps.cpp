#include "Utile/gui/GridOps.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTableWidget>

namespace utile::gui {

void FitColWidths(QTableWidget* grid, int margin) {
  const QFontMetrics cellMetrics(grid->font());
  const QFontMetrics headerMetrics(grid->horizontalHeader()->font());
  for (int column = 0; column < grid->columnCount(); ++column) {
    int widest = 0;
    if (const QTableWidgetItem* header = grid->horizontalHeaderItem(column))
      widest = headerMetrics.horizontalAdvance(header->text());
    for (int row = 0; row < grid->rowCount(); ++row)
      if (const QTableWidgetItem* item = grid->item(row, column))
        widest = std::max(widest, cellMetrics.horizontalAdvance(item->text()));
    grid->setColumnWidth(column, widest + margin);
  }
}

}  // namespace utile::gui
