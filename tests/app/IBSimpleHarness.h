// Drawing the individual-based workbench's life cycle as a user does: new cells
// from the actions, parameters typed into the cells' edits.
#pragma once

#include <QLineEdit>
#include <QtTest>

#include "app/dlgIBSimpleU.h"

namespace testsupport {

// Types text into the cell's first (parameter 1) or second edit and ends it with Return.
inline void TypeParameter(vandrel::TdlgIBSimple* bench, const models::tEventCell* cell, int parameter,
                          const char* text) {
  vandrel::tEventCellControls* controls = bench->CellControls(cell);
  QLineEdit* edit = parameter == 1 ? controls->Param1 : controls->Param2;
  edit->clear();
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

// The cell the type's new-event action makes (the selected cell after it), with
// the parameters given typed in.
inline models::tEventCell* NewCell(vandrel::TdlgIBSimple* bench, models::tLifeEventType type,
                                   const char* param1 = nullptr, const char* param2 = nullptr) {
  bench->acNewEvent[type]->trigger();
  models::tEventCell* cell = bench->fEventCells.SelectedCell();
  if (param1) TypeParameter(bench, cell, 1, param1);
  if (param2) TypeParameter(bench, cell, 2, param2);
  return cell;
}

}  // namespace testsupport
