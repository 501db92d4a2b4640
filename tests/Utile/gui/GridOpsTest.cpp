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

  void WideningKeepsColumnsThatAreWideEnough() {
    QTableWidget grid(1, 3);
    grid.setHorizontalHeaderLabels({"X", "Y", "Area"});
    grid.setItem(0, 0, new QTableWidgetItem("17.320508075688775"));
    grid.setItem(0, 1, new QTableWidgetItem("5"));
    grid.setItem(0, 2, new QTableWidgetItem("40"));
    const QFontMetrics cells(grid.font());
    const int wide = cells.horizontalAdvance("17.320508075688775") + 10;
    grid.setColumnWidth(0, 20);    // too narrow: widened to its text
    grid.setColumnWidth(1, 300);   // the user's wide column stays
    grid.setColumnWidth(2, cells.horizontalAdvance("Area") + 10);  // exactly wide enough
    WidenColsToFit(&grid, 10);
    QCOMPARE(grid.columnWidth(0), wide);
    QCOMPARE(grid.columnWidth(1), 300);
    QCOMPARE(grid.columnWidth(2), std::max(cells.horizontalAdvance("Area"),
                                           QFontMetrics(grid.horizontalHeader()->font()).horizontalAdvance("Area")) +
                                      10);
  }
};

QTEST_MAIN(GridOpsTest)
#include "GridOpsTest.moc"
