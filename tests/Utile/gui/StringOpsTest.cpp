#include <QLineEdit>
#include <QTest>

#include "Utile/gui/Frequent.h"
#include "Utile/gui/StringOps.h"

using namespace utile::gui;

class StringOpsTest : public QObject {
  Q_OBJECT

 private slots:
  void FiltersKeepTheirCharacters() {
    struct {
      tKeyFilter Filter;
      const char* Kept;
    } const cases[] = {
        {EditReal, "\b\r\x10-.0123456789"},
        {EditRealList, "\b\r\x10-.0123456789,"},
        {EditScientific, "\b\r\x10+-.0123456789Ee"},
        {Frequent::EditReal, "\b\r\x10-.0123456789"},
        {Frequent::EditRealList, "\b\r\x10-.0123456789,"},
    };
    for (const auto& c : cases)
      for (int code = 1; code < 256; ++code) {
        char key = static_cast<char>(code);
        c.Filter(key);
        const bool kept = std::strchr(c.Kept, code) != nullptr;
        QCOMPARE(key, kept ? static_cast<char>(code) : char(0));
      }
  }

  void LineEditTakesOnlyKeptCharacters() {
    QLineEdit real, scientific;
    InstallKeyFilter(&real, EditReal);
    InstallKeyFilter(&scientific, EditScientific);
    QTest::keyClicks(&real, "-1a2.5e+3,x");
    QCOMPARE(real.text(), QString("-12.53"));
    QTest::keyClicks(&scientific, "-1a2.5e+3,x");
    QCOMPARE(scientific.text(), QString("-12.5e+3"));
    // Backspace and cursor keys still edit.
    QTest::keyClick(&real, Qt::Key_Backspace);
    QTest::keyClick(&real, Qt::Key_Home);
    QTest::keyClicks(&real, "9");
    QCOMPARE(real.text(), QString("9-12.5"));
  }
};

QTEST_MAIN(StringOpsTest)
#include "StringOpsTest.moc"
