// The start of the map-file manager: its toolkit and generator, its windows, the
// folder it opens (WorkDir.ini and the command line) and its version.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "KelvoraHarness.h"
#include "TestSupport/ReferenceGenerator.h"
#include "Utile/RandomFunctions.h"
#include "Utile/gui/WindowServices.h"
#include "mapfiles/Kelvora.h"
#include "mapfiles/KelvoraAboutBox.h"
#include "mapfiles/KelvoraHelp.h"

using namespace kelvora;
namespace fs = std::filesystem;

// The session's map folder holds the folders to start in.
class KelvoraStartupTest : public QObject, testsupport::tKelvoraSession {
  Q_OBJECT

  std::string Folder(const std::string& name) {
    fs::create_directories(M(name));
    return fs::canonical(M(name)).string();
  }
  static std::string Current() { return fs::current_path().string(); }

 private slots:
  // Kelvora starts without arguments unless a test gives some.
  void init() {
    Start();
    SetProgramArguments({});
  }
  void cleanup() { Stop(); }

  void TheGeneratorStartsWithSeed23() {
    InitialiseToolkit();
    testsupport::tReferenceGenerator reference(23);
    for (int i = 0; i < 5; ++i) QCOMPARE(utile::Ran(), reference.U());
  }

  void TheWindowStartsWithItsListsCaptionsAndMenu() {
    struct tConvention {
      bool older;
      const char* image;
    };
    for (const tConvention c : {tConvention{false, "rst"}, tConvention{true, "img"}}) {
      if (c.older) testsupport::WriteFileBytes(fProgram->File("idrisi.env"), "default data path\n");
      TdlgKelvora* window = CreateKelvoraWindows();
      std::unique_ptr<TdlgKelvora> owner(window);
      const QString e = c.image;
      QStringList filters, masks;
      for (int i = 0; i < window->cbFilter->count(); ++i) {
        filters << window->cbFilter->itemText(i);
        masks << window->cbFilter->itemData(i).toString();
      }
      QCOMPARE(filters, QStringList({"All maps (*." + e + ")", "Quantitative maps (*_QT)",
                                     "Qualitative maps (*_BL, *_CL, *_CL)", "Boolean maps (*_BL)",
                                     "Freqency/Probability maps (_FQ)", "Count maps (*_NB)", "Statistical maps (*_ST)",
                                     "Category maps (*_CL)", "All files (*.*)", "Text files (*.txt,*.log,*.dat)"}));
      QCOMPARE(masks, QStringList({"*." + e, "*_QT." + e, "*_BL." + e + ";*_CL." + e + ";*_CL." + e, "*_BL." + e,
                                   "*_FQ." + e, "*_NB." + e, "*_ST." + e, "*_CL." + e, "*.*", "*.txt;*.log;*.dat"}));
      QCOMPARE(window->cbFilter->currentIndex(), 0);
      QStringList palettes;
      for (int i = 0; i < window->cbPalette->count(); ++i) palettes << window->cbPalette->itemText(i);
      QCOMPARE(palettes, QStringList({"Boolean", "Rainbow", "Grey shade", "Fire", "Qualitative 256"}));
      QCOMPARE(window->cbPalette->currentText(), QString("Rainbow"));
      QCOMPARE(window->cbFormat->currentText(), QString("JPEG (*.jpg)"));
      QCOMPARE(window->cbFormat->count(), 5);
      QCOMPARE(window->lblTask->text(), QString("Ready "));
      QVERIFY(window->ggTask->isHidden());
      QCOMPARE(window->edA->text(), QString("-1"));
      QCOMPARE(window->edB->text(), QString("1"));
      QCOMPARE(window->edDTSuffix->text(), QString("-mod"));
      QCOMPARE(window->NbSelected, 0);
      for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->window() == window) QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
      QStringList pages;
      for (int i = 0; i < window->pcOperations->count(); ++i) pages << window->pcOperations->tabText(i);
      QCOMPARE(pages, QStringList({"File management", "Data type management", "Metadata", "Comments", "Conversion"}));
      QCOMPARE(window->mnProgram->title(), QString("&Program"));
      QCOMPARE(window->mnExit->text(), QString("E&xit"));
      QCOMPARE(window->mnExit->shortcut(), QKeySequence("Ctrl+Q"));
      QCOMPARE(window->mnHelp->title(), QString("&Help"));
      QCOMPARE(window->mnHelpItem->text(), QString("&Help..."));
      QCOMPARE(window->mnAbout->text(), QString("&About..."));
      QVERIFY(fKelvoraAboutBox && fKelvoraAboutBox->parent() == window);
      QVERIFY(fKelvoraHelp && fKelvoraHelp->parent() == window);
      fs::remove(fProgram->File("idrisi.env"));
    }
    utile::EnvironnementIdrisi(fProgram->Path());
  }

  void CtrlQClosesTheWindowAndWritesTheFolder() {
    const std::string folder = Folder("last");
    fs::current_path(folder);
    TdlgKelvora window;
    QSignalSpy closed(&window, &TdlgKelvora::Closed);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!window.isVisible());
    QCOMPARE(testsupport::ReadFileBytes(WorkDirFileName()), folder + "\n");
  }

  void TheFolderComesFromWorkDirAndTheCommandLine() {
    const std::string start = Folder("start"), saved = Folder("saved"), called = Folder("called");
    // Two windows in a row: the second opens where the first one closed.
    fs::current_path(start);
    {
      TdlgKelvora first;
      QCOMPARE(Current(), start);
      QVERIFY(first.ChangeFolder(saved));
      first.close();
    }
    fs::current_path(start);
    struct tCase {
      std::vector<std::string> arguments;
      std::string expected;
    };
    const std::string gone = Folder("gone");
    for (const tCase& c : {tCase{{}, saved}, tCase{{"CALL", called}, called}, tCase{{"Call", called}, called},
                           tCase{{"open", called}, saved}, tCase{{"call"}, saved}}) {
      SetProgramArguments(c.arguments);
      fs::current_path(start);
      TdlgKelvora window;
      QCOMPARE(Current(), c.expected);
      QCOMPARE(window.CurrentFolder(), c.expected);
    }
    // A folder that no longer exists leaves the folder the program started in.
    SetProgramArguments({});
    testsupport::WriteFileBytes(WorkDirFileName(), gone + "\r\n");
    fs::remove(gone);
    fs::current_path(start);
    TdlgKelvora window;
    QCOMPARE(Current(), start);
  }

  void TheAboutBoxShowsTheBuildsVersionModally() {
    QCOMPARE(VersionText({(1u << 16) | 3u, (2u << 16) | 11u}), std::string("1.3.2.11"));
    QCOMPARE(VersionText({(65535u << 16) | 0u, (0u << 16) | 65535u}), std::string("65535.0.0.65535"));
    std::unique_ptr<TdlgKelvora> window(CreateKelvoraWindows());
    const QString build = QString("Version %1.%2.%3.%4")
                              .arg(KELVORA_VERSION_MAJOR)
                              .arg(KELVORA_VERSION_MINOR)
                              .arg(KELVORA_VERSION_RELEASE)
                              .arg(KELVORA_VERSION_BUILD);
    QCOMPARE(fKelvoraAboutBox->Version->text(), build);
    bool modal = false;
    QTimer::singleShot(0, [&modal] {
      modal = QApplication::activeModalWidget() == fKelvoraAboutBox;
      fKelvoraAboutBox->OKButton->click();
    });
    window->mnAbout->trigger();
    QVERIFY(modal);

    // The help window is a read-only text beside the main window.
    window->mnHelpItem->trigger();
    QVERIFY(fKelvoraHelp->isVisible());
    QVERIFY(!fKelvoraHelp->isModal());
    QVERIFY(fKelvoraHelp->mmHelp->isReadOnly());
    QVERIFY(fKelvoraHelp->mmHelp->toPlainText().contains("Forest001"));
  }
};

int main(int argc, char* argv[]) {
  InitialiseToolkit();
  utile::gui::tApplication application(argc, argv);
  KelvoraStartupTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "KelvoraStartupTest.moc"
