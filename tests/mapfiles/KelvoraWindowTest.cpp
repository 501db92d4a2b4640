#include <QtTest>

#include "mapfiles/dlgKelvoraU.h"

class KelvoraWindowTest : public QObject {
  Q_OBJECT
private slots:
  void OpensWithItsCaption() {
    kelvora::TdlgKelvora window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QString("Kelvora"));
  }
};

QTEST_MAIN(KelvoraWindowTest)
#include "KelvoraWindowTest.moc"
