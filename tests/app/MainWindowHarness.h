// The main window that every window test of Vandrel starts from.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QtCore/QObject>

#include "ScriptedDialogs.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "app/WindowServices.h"
#include "models/MetapopCommon.h"

namespace testsupport {

// Scripted dialogs, an empty landscape, a main window with its patch database
// dialog: as the program starts, without a screen.
inline vandrel::TdlgVandrel* OpenMainWindow(tScriptedDialogs*& dialogs) {
  vandrel::InstallMessagePump();
  dialogs = &InstallScriptedDialogs();
  models::ResetLandscape();
  auto* main = new vandrel::TdlgVandrel;
  vandrel::dlgPatchData = new vandrel::TdlgPatchData(main);
  return main;
}

// Frees the main window (and with it its workbenches and the patch database dialog)
// and gives the dialogs back.
inline void CloseMainWindow(vandrel::TdlgVandrel*& main) {
  delete main;
  main = nullptr;
  vandrel::dlgPatchData = nullptr;
  vandrel::SetDialogs(nullptr);
}

// A workbench of the given kind made as the Modules menu makes it.
template <class tWorkbench>
tWorkbench* OpenWorkbench(vandrel::TdlgVandrel* main, vandrel::tWorkbenchKind kind) {
  main->SetWorkbenchFactory(kind, [](vandrel::TdlgVandrel* owner) { return new tWorkbench(owner); });
  return dynamic_cast<tWorkbench*>(main->NewModel(kind));
}

// The lines of a memo as it shows them.
inline QStringList MemoLines(const QPlainTextEdit* memo) {
  return memo->toPlainText().split('\n');
}

}  // namespace testsupport
