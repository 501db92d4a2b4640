#include <QFontMetrics>
#include <QHeaderView>
#include <QTableWidget>
#include <QTest>

#include "Utile/gui/GridOps.h"

using namespace utile::gui;

class GridOpsTest : public QObject {
  Q_OBJECT

 private slots:
  void ColumnsTakeTheirWidestTextPlusMargin() {
    QTableWidget grid(3, 3);
    grid.setHorizontalHeaderLabels({"Patch", "A much longer caption", ""});
    grid.setItem(0, 0, new QTableWidgetItem("1"));
    grid.setItem(1, 0, new QTableWidgetItem("a rather long cell text"));
    grid.setItem(2, 1, new QTableWidgetItem("x"));
    FitColWidths(&grid, 10);
    const QFontMetrics cells(grid.font()), headers(grid.horizontalHeader()->font());
    QCOMPARE(grid.columnWidth(0), std::max(headers.horizontalAdvance("Patch"),
                                           cells.horizontalAdvance("a rather long cell text")) +
                                      10);
    QCOMPARE(grid.columnWidth(1),
             std::max(headers.horizontalAdvance("A much longer caption"), cells.horizontalAdvance("x")) + 10);
    // An empty column keeps the margin, or the header's minimum where that is wider.
    QCOMPARE(grid.columnWidth(2), std::max(10, grid.horizontalHeader()->minimumSectionSize()));
  }
};

QTEST_MAIN(GridOpsTest)
#include "GridOpsTest.moc"
