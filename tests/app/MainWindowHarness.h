// The main window that every window test of Vandrel starts from.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QtCore/QObject>
#include <QtCore/QStringList>

#include "ScriptedDialogs.h"
#include "Utile/RunTime.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

namespace testsupport {

// Scripted dialogs, an empty landscape, a main window with its patch database
// dialog: as the program starts, without a screen, and out of testing mode
// whoever runs the tests (the developers' own names start in it).
inline vandrel::TdlgVandrel* OpenMainWindow(tScriptedDialogs*& dialogs, bool asAnyUser = true) {
  vandrel::InstallMessagePump();
  dialogs = &InstallScriptedDialogs();
  models::ResetLandscape();
  auto* main = new vandrel::TdlgVandrel;
  if (asAnyUser && vandrel::TestingMode) main->SetTestingMode(false);
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

// The lines of a text file written with CR LF line ends; a line that ends
// otherwise keeps its bare LF so that the comparison fails.
inline QStringList FileLines(const std::string& fileName) {
  QStringList lines = QString::fromStdString(utile::LoadTextFromFile(fileName)).split("\r\n");
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

// A workbench of the given kind made as the Modules menu makes it.
template <class tWorkbench>
tWorkbench* OpenWorkbench(vandrel::TdlgVandrel* main, vandrel::tWorkbenchKind kind) {
  main->SetWorkbenchFactory(kind, [](vandrel::TdlgVandrel* owner) { return new tWorkbench(owner); });
  return dynamic_cast<tWorkbench*>(main->NewModel(kind));
}

// Where a point of the landscape lies on the viewport of the main window's chart.
inline QPointF LandscapePoint(const vandrel::TdlgVandrel* main, double x, double y) {
  const utile::gui::tGraphicChart* chart = main->chSpace;
  return chart->viewportTransform().map(chart->chart()->mapToScene(chart->ValueToPixel(QPointF(x, y))));
}

// A mouse event at a point of the viewport of the main window's chart.
inline void SendChartMouse(vandrel::TdlgVandrel* main, QEvent::Type type, Qt::MouseButton button,
                           Qt::MouseButtons held, QPointF at) {
  QWidget* viewport = main->chSpace->viewport();
  QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(viewport, &event);
}

// The lines of a memo as it shows them.
inline QStringList MemoLines(const QPlainTextEdit* memo) {
  return memo->toPlainText().split('\n');
}

}  // namespace testsupport
