// The file-exists question, the progress window, the about box, the development
// history and the filter strings of the dialog seam.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/AboutBoxU.h"
#include "app/DevHistoryU.h"
#include "app/WindowServices.h"
#include "app/dlgFileExistsU.h"
#include "app/dlgProgressU.h"

using vandrel::tDialogResult;

class SmallWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void FileExistsHasItsCaptionsHintsAndDefault() {
    vandrel::TdlgFileExists dialog;
    QCOMPARE(dialog.windowTitle(), QString("File exists"));
    QCOMPARE(dialog.btAppend->text(), QString("&Append"));
    QCOMPARE(dialog.btReplace->text(), QString("&Replace"));
    QCOMPARE(dialog.btCancel->text(), QString("Cancel"));
    QCOMPARE(dialog.btAppend->toolTip(), QString("Append the new results at the end of the existing file"));
    QCOMPARE(dialog.btReplace->toolTip(), QString("Replace the existing file (Warning! Data will be lost)"));
    QCOMPARE(dialog.btCancel->toolTip(), QString("Stop! Don't do anything!"));
    QVERIFY(dialog.btCancel->isDefault());
    QVERIFY(!dialog.btAppend->isDefault() && !dialog.btReplace->isDefault());
    QVERIFY(dialog.lblMessage->wordWrap());
    QVERIFY(dialog.lblMessage->alignment() & Qt::AlignHCenter);
    // Left to right: Append, Replace, Cancel.
    dialog.show();
    QVERIFY(dialog.btAppend->x() < dialog.btReplace->x() && dialog.btReplace->x() < dialog.btCancel->x());
  }

  void FileExistsAnswersByTheButtonPressed() {
    vandrel::TdlgFileExists dialog;
    struct tCase {
      const char* press;  // a button's name, "escape", "enter" or "close"
      tDialogResult expected;
    };
    for (const tCase& c : std::initializer_list<tCase>{{"btAppend", tDialogResult::drAppend},
                                                       {"btReplace", tDialogResult::drReplace},
                                                       {"btCancel", tDialogResult::drCancel},
                                                       {"escape", tDialogResult::drCancel},
                                                       {"enter", tDialogResult::drCancel},
                                                       {"close", tDialogResult::drCancel}}) {
      const QString press = c.press;
      QTimer::singleShot(0, &dialog, [&dialog, press] {
        if (press == "escape")
          QTest::keyClick(&dialog, Qt::Key_Escape);
        else if (press == "enter")
          QTest::keyClick(&dialog, Qt::Key_Return);
        else if (press == "close")
          dialog.close();
        else
          dialog.findChild<QPushButton*>(press)->click();
      });
      QCOMPARE(dialog.Execute("\"results.txt\" already exists."), c.expected);
      QCOMPARE(dialog.lblMessage->text(), QString("\"results.txt\" already exists."));
    }
  }

  void ProgressShowsThousandths() {
    vandrel::TdlgProgress progress;
    QCOMPARE(progress.windowTitle(), QString("Progress"));
    QCOMPARE(progress.timProgress->interval(), 2000);
    QVERIFY(!progress.timProgress->isActive());
    struct tCase {
      uint32_t toDo, done;
      int expected;
    };
    // 1/3 of 1000 = 333.3; 2/3 = 666.7; 1/8 = 125; 3/16 = 187.5 rounds to the even 188.
    for (const tCase& c : std::initializer_list<tCase>{
             {3, 1, 333}, {3, 2, 667}, {8, 1, 125}, {16, 3, 188}, {4, 4, 1000}, {0, 0, 0}, {2, 5, 1000}}) {
      progress.ToDo = c.toDo;
      progress.Done = c.done;
      progress.timProgressTimer();
      QCOMPARE(progress.ggTask->value(), c.expected);
    }
  }

  void AboutAndHistoryAreInformationWindows() {
    vandrel::TAboutBox about;
    QVERIFY(about.Version->text().contains("1.3.6.36"));
    QTimer::singleShot(0, &about, [&about] { about.OKButton->click(); });
    QCOMPARE(about.exec(), int(QDialog::Accepted));
    vandrel::TDevHistory history;
    QCOMPARE(history.windowTitle(), QString("Development history"));
    QVERIFY(history.mmHistory->isReadOnly());
    QVERIFY(!history.mmHistory->toPlainText().isEmpty());
  }

  void DialogFiltersAndDefaultExtensions() {
    QCOMPARE(vandrel::DialogFilter("Model files (*.model)|*.model|All files (*.*)|*.*"),
             QString("Model files (*.model);;All files (*.*)"));
    QCOMPARE(vandrel::DialogFilter("Maps|*.rst;*.img"), QString("Maps (*.rst *.img)"));
    QCOMPARE(vandrel::WithDefaultExtension("/data/cycle", "model"), std::string("/data/cycle.model"));
    QCOMPARE(vandrel::WithDefaultExtension("/data/cycle.txt", "model"), std::string("/data/cycle.txt"));
    QCOMPARE(vandrel::WithDefaultExtension("/data.d/cycle", "model"), std::string("/data.d/cycle.model"));
    QCOMPARE(vandrel::WithDefaultExtension("/data/cycle", ""), std::string("/data/cycle"));
  }

  void TheHourGlassComesBackWhenAnErrorPasses() {
    QVERIFY(QApplication::overrideCursor() == nullptr);
    try {
      vandrel::tHourGlass outer;
      vandrel::tHourGlass inner;
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      throw std::runtime_error("failure");
    } catch (const std::runtime_error&) {
    }
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
};

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
