#include <QtTest>

#include "app/dlgVandrelU.h"

class MainWindowTest : public QObject {
  Q_OBJECT
private slots:
  void OpensWithItsCaption() {
    vandrel::TdlgVandrel window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.windowTitle().startsWith("Vandrel"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
