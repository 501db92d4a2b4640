// The program's last line of defence: an error that a window's handler lets
// pass is shown to the user, and the program goes on. Its numbers do not follow
// the C library's locale.
#include <QPushButton>
#include <QtTest>

#include <clocale>

#include "ScriptedDialogs.h"
#include "TestSupport/NumericLocale.h"
#include "Utile/RunTime.h"
#include "app/WindowServices.h"

class ApplicationTest : public QObject {
  Q_OBJECT

 private slots:
  // The window library set LC_NUMERIC from the environment; the application took the
  // user's separator from it and set LC_NUMERIC back to "C".
  void TheApplicationKeepsTheUserSeparatorAndSetsLcNumericBackToC() {
    QCOMPARE(std::setlocale(LC_NUMERIC, nullptr), "C");
    QCOMPARE(testsupport::tNumericLocale::DecimalPoint(), std::string("."));
    char environment = '.';
    {
      const testsupport::tNumericLocale user("");
      QVERIFY(user.Active());
      if (testsupport::tNumericLocale::DecimalPoint() == ",") environment = ',';
    }
    QCOMPARE(utile::UserDecimalSeparator, environment);
    QCOMPARE(std::setlocale(LC_NUMERIC, nullptr), "C");
  }

  void AnErrorLeftByAHandlerIsShownAndTheProgramGoesOn() {
    auto& dialogs = testsupport::InstallScriptedDialogs();
    QPushButton button("Go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
      ++clicks;
      if (clicks == 1) throw utile::EZeroDivide("Division by zero");
      if (clicks == 2) throw 42;
    });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(dialogs.Messages, std::vector<std::string>({"Division by zero"}));
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(dialogs.Messages.size(), size_t(2));
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 3);
    QCOMPARE(dialogs.Messages.size(), size_t(2));
    vandrel::SetDialogs(nullptr);
  }
};

int main(int argc, char* argv[]) {
  vandrel::tApplication application(argc, argv);
  ApplicationTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ApplicationTest.moc"
