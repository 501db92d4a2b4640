// The main window's conversions, modifications and exports on real map files: the
// frame around each walk, the questions and boxes, the pictures exported, the
// failures of single maps and the lock on the window while a walk runs.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "KelvoraHarness.h"
#include "TestSupport/MapFiles.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/PictureFiles.h"
#include "TestSupport/ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "Utile/gui/WindowServices.h"
#include "mapfiles/GraphMap.h"
#include "mapfiles/Kelvora.h"

using namespace kelvora;
using namespace testsupport;
using utile::bsChecked;
using utile::bsUnchecked;
using utile::idtByte;
using utile::idtInteger;
using utile::idtReal;
using utile::gui::tMessageKind;
namespace fs = std::filesystem;

class KelvoraMapOperationsTest : public QObject, tKelvoraSession {
  Q_OBJECT

  TdlgKelvora& Open() {
    OpenWindow().show();
    return *fWindow;
  }

  static std::vector<double> Cells(const std::string& type, const std::string& image) {
    return DecodeCells(type, ReadFileBytes(image));
  }
  // The documentation read strictly (a fault of its form fails the test).
  static tDocValues Doc(const std::string& path) {
    tDocValues values = ReadDocStrictly(path);
    if (::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed())
      QTest::qFail("badly formed", __FILE__, __LINE__);
    return values;
  }

  // What the window shows each time the gauge moves.
  struct tFrame {
    int Value;
    bool Shown, HourGlass;
    QString Task;
  };

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void ConvertShowsEachMapInTheFrameAndWritesBesideIt() {
    WriteMap(M("forest_QT"), idtReal, 2, 2, {2.5, 3, -9999, 7}, 2.5, 7, bsChecked, -9999);
    WriteMap(M("b_QT"), idtReal, 2, 2, {0, 1, 2, 3}, 0, 3);
    TdlgKelvora& w = Open();
    const auto sources = FolderFiles(fMaps->Path());
    Select(w, {"forest_QT.rst", "b_QT.rst"});
    w.rbInteger->setChecked(true);
    std::vector<tFrame> frames;
    connect(w.ggTask, &QProgressBar::valueChanged, &w, [&](int value) {
      const QCursor* cursor = QApplication::overrideCursor();
      frames.push_back(
          {value, !w.ggTask->isHidden(), cursor && cursor->shape() == Qt::WaitCursor, w.lblTask->text()});
    });
    w.btConvertDataType->click();

    // Four cells a map: the gauge moves by quarters; map 1 is the one nearest the end.
    const int values[] = {0, 25, 50, 75, 100, 0, 25, 50, 75, 100};
    QCOMPARE(frames.size(), std::size(values));
    for (size_t i = 0; i < frames.size(); ++i) {
      QCOMPARE(frames[i].Value, values[i]);
      QVERIFY(frames[i].Shown && frames[i].HourGlass);
      if (i > 0)
        QCOMPARE(frames[i].Task, i < 5 ? QString("Converting map 1/2") : QString("Converting map 2/2"));
    }
    QVERIFY(w.ggTask->isHidden());
    QCOMPARE(w.lblTask->text(), QString("Ready"));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(LogLines(w), QStringList({"forest_QT converted to integer data type.",
                                       "b_QT converted to integer data type."}));
    QCOMPARE(fDialogs->Messages,
             std::vector<std::string>({"Map forest_QT contained some real values, which were rounded."}));
    QCOMPARE(fDialogs->Kinds, std::vector<tMessageKind>({tMessageKind::mkWarning}));

    QCOMPARE(Cells("integer", M("forest-mod_QT.rst")), std::vector<double>({2, 3, -9999, 7}));
    QCOMPARE(Cells("integer", M("b-mod_QT.rst")), std::vector<double>({0, 1, 2, 3}));
    const tDocValues forest = Doc(M("forest-mod_QT.rdc")), b = Doc(M("b-mod_QT.rdc"));
    QCOMPARE(forest.at("data type"), std::vector<std::string>({"integer"}));
    QCOMPARE(testsupport::PointNumber(forest.at("flag value")[0]), -9999.0);
    QCOMPARE(forest.at("lineage"),
             std::vector<std::string>(
                 {"written by the test", "Data type converted to integer", "Some values were rounded"}));
    QCOMPARE(b.at("lineage"),
             std::vector<std::string>({"written by the test", "Data type converted to integer"}));
    // The sources as they were; the list shows the new maps, the selection kept.
    for (const auto& [name, bytes] : sources) QVERIFY2(ReadFileBytes(M(name)) == bytes, name.c_str());
    QCOMPARE(Listed(w),
             QStringList({"b-mod_QT.rdc", "b-mod_QT.rst", "b_QT.rdc", "b_QT.rst", "forest-mod_QT.rdc",
                          "forest-mod_QT.rst", "forest_QT.rdc", "forest_QT.rst"}));
    QCOMPARE(w.NbSelected, 2);
  }

  void ModifyAsksBeforeReplacingAMapAndReplacesTheSourceInPlace() {
    WriteMap(M("forest_QT"), idtReal, 2, 2, {10, 12.5, 20, 10.25}, 10, 20);
    WriteMap(M("forest-mod_QT"), idtByte, 2, 2, {9, 9, 9, 9}, 9, 9);
    TdlgKelvora& w = Open();
    Select(w, {"forest_QT.rst"});
    w.rbStretch->setChecked(true);
    const std::string question = "Map forest-mod_QT exists already. Do you want to replace it?";
    fDialogs->Confirmations = {true};
    QStringList tasks;
    connect(w.ggTask, &QProgressBar::valueChanged, &w, [&](int value) {
      if (value == 100) tasks << w.lblTask->text();
    });
    w.btModify->click();
    QCOMPARE(tasks, QStringList({"Modifying map 1/1"}));
    // Halves to even: 12.5 on 10..20 gives 25, 10.25 gives 2.5 and so 2.
    QCOMPARE(Cells("byte", M("forest-mod_QT.rst")), std::vector<double>({0, 25, 100, 2}));
    QCOMPARE(Doc(M("forest-mod_QT.rdc")).at("lineage").at(1),
             std::string("Stretched between 0 and 100 by Kelvora"));
    QCOMPARE(LogLines(w), QStringList({"forest_QT stretched in [0,100]."}));

    // No keeps the existing map, writes no result line and leaves nothing behind.
    WriteMap(M("forest-mod_QT"), idtByte, 2, 2, {9, 9, 9, 9}, 9, 9);
    const auto before = FolderFiles(fMaps->Path());
    fDialogs->Confirmations = {false};
    w.btModify->click();
    QCOMPARE(FolderFiles(fMaps->Path()), before);
    QCOMPARE(LogLines(w).size(), 1);
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({question, question}));
    QCOMPARE(fDialogs->Kinds, std::vector<tMessageKind>(2, tMessageKind::mkConfirmation));

    // Replacing: the map keeps its name and no other file appears.
    w.rbDTReplace->setChecked(true);
    w.rbRound->setChecked(true);
    w.btModify->click();
    QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"forest-mod_QT.rdc", "forest-mod_QT.rst",
                                                                 "forest_QT.rdc", "forest_QT.rst"}));
    QCOMPARE(Cells("byte", M("forest_QT.rst")), std::vector<double>({10, 12, 20, 10}));
    QCOMPARE(LogLines(w).last(), QString("forest_QT rounded."));
    QVERIFY(w.cbMaps->findItems("forest_QT.rst", Qt::MatchExactly)[0]->isSelected());
  }

  void EachBadMapIsReportedAndTheWalkGoesOn() {
    WriteMap(M("a_QT"), idtReal, 1, 2, {0, 300}, 0, 300);  // out of byte range: refused
    WriteMap(M("b_QT"), idtReal, 1, 2, {0, 1}, 0, 1);
    fs::remove(M("b_QT.rst"));  // no image
    WriteMap(M("c_QT"), idtReal, 2, 2, {0, 1, 2, 3}, 0, 3);
    WriteFileBytes(M("c_QT.rst"), "12345");  // truncated image
    WriteFileBytes(M("d_QT.rdc"), "garbled\r\ndocumentation\r\n");
    WriteFileBytes(M("d_QT.rst"), std::string(4, '\0'));
    WriteMap(M("e_QT"), idtReal, 1, 2, {0, 1}, 0, 1);
    WriteMap(M("f_QT"), idtReal, 1, 2, {0, 1}, 0, 1);
    fs::create_directory(M("f-mod_QT.rst"));  // the new name taken by a folder
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    Select(w, {"a_QT.rst", "b_QT.rdc", "c_QT.rst", "d_QT.rst", "e_QT.rst", "f_QT.rst"});
    w.rbByte->setChecked(true);
    fDialogs->Confirmations = {true};
    w.btConvertDataType->click();

    QStringList errors;
    for (const QString& line : LogLines(w))
      if (line.endsWith(" generated an error. Check it.") || line.endsWith("data type.")) errors << line;
    QCOMPARE(errors, QStringList({"f_QT generated an error. Check it.", "e_QT converted to byte data type.",
                                  "d_QT generated an error. Check it.", "c_QT generated an error. Check it.",
                                  "b_QT generated an error. Check it."}));
    // The reason stands under each error line, indented as the file operations indent it;
    // the exports report theirs alike.
    w.cbFormat->setCurrentIndex(w.cbFormat->findText("Bitmap (*.bmp)"));
    Select(w, {"b_QT.rdc", "d_QT.rst"});
    w.btExport->click();
    const QStringList lines = LogLines(w);
    int reasons = 0;
    for (qsizetype i = 0; i < lines.size(); ++i)
      if (lines[i].endsWith(" generated an error. Check it.")) {
        QVERIFY2(i + 1 < lines.size() && lines[i + 1].startsWith("    ") && lines[i + 1].size() > 4 &&
                     lines[i + 1][4] != ' ',
                 qPrintable(lines.mid(i, 2).join(" / ")));
        ++reasons;
      }
    QCOMPARE(reasons, 6);
    // With READABLE_GRABS naming a folder: the window as the walks leave it.
    if (const QByteArray folder = qgetenv("READABLE_GRABS"); !folder.isEmpty()) {
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.grab().save(QString(folder) + "/kelvora-walks.png");
    }
    QCOMPARE(fDialogs->Messages,
             std::vector<std::string>({"Map f-mod_QT exists already. Do you want to replace it?",
                                       "Map a_QT: Values out of byte range"}));
    QCOMPARE(fDialogs->Kinds.back(), tMessageKind::mkError);
    // Every source byte for byte, the one new map, no temporary file.
    auto after = FolderFiles(fMaps->Path());
    QVERIFY(after.erase("e-mod_QT.rdc") && after.erase("e-mod_QT.rst"));
    QCOMPARE(after, before);
    QVERIFY(fs::is_directory(M("f-mod_QT.rst")));
    QVERIFY(Listed(w).contains("e-mod_QT.rst"));

    // A walk refused as a whole ends as any other: box, gauge hidden, list read again.
    WriteFileBytes(M("new.txt"), "n");
    {
      utile::tMapWalkLock another;
      QTest::mouseClick(w.btConvertDataType, Qt::LeftButton);
    }
    QCOMPARE(fDialogs->Messages.back(), std::string("A map operation is already running"));
    QVERIFY(w.ggTask->isHidden() && w.lblTask->text() == "Ready" && !QApplication::overrideCursor());
    QVERIFY(Listed(w).contains("new.txt") && w.btConvertDataType->isEnabled());
  }

  void AnUnwritableFolderFailsEveryMapOfEveryOperation() {
    WriteMap(M("a_QT"), idtReal, 1, 2, {0, 1}, 0, 1);
    WriteMap(M("b_QT"), idtByte, 1, 2, {0, 1}, 0, 1);
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    if (!SetImmutable(fMaps->Path(), true)) QSKIP("no immutable folders here");
    Select(w, {"a_QT.rst", "b_QT.rst"});
    w.rbInteger->setChecked(true);
    w.btConvertDataType->click();
    w.rbDTReplace->setChecked(true);
    w.rbBoolean->setChecked(true);
    w.btModify->click();
    w.cbFormat->setCurrentIndex(w.cbFormat->findText("Bitmap (*.bmp)"));
    w.btExport->click();
    SetImmutable(fMaps->Path(), false);
    QStringList errors;
    for (const QString& line : LogLines(w))
      if (line.endsWith(" generated an error. Check it.")) errors << line.section(' ', 0, 0);
    QCOMPARE(errors, QStringList({"b_QT", "a_QT", "b_QT", "a_QT", "a_QT", "b_QT"}));
    QCOMPARE(FolderFiles(fMaps->Path()), before);
  }

  void ExportsDrawOnePixelPerCellOverThePresentCells() {
    const uint32_t Grey = 0x808080;
    auto g = [](uint32_t v) { return v * 0x010101; };
    // Grey shade entry k is Trunc(255 - 255 k / 256); Rainbow entries 0, 512, 767 and
    // 1023 are black, red, $FFFE00 and $FFFFFE. k = Round(h (v - Min) / (Max - Min)),
    // halves to even, over the present cells.
    const struct {
      const char* Name;
      utile::TGISDataType Type;
      int Rows, Columns;
      std::vector<utile::Single> Cells;
      utile::tBackgroundState Background;
      double Flag;
      const char* Palette;
      std::vector<uint32_t> Pixels;
    } cases[] = {
        // clang-format off
        {"byte", idtByte, 2, 3, {0, 64, 128, 255, 10, 20}, bsUnchecked, 255, "Grey shade",
         {g(255), g(191), g(127), g(0), g(245), g(235)}},
        {"byteflag", idtByte, 2, 3, {0, 64, 128, 255, 10, 20}, bsChecked, 255, "Grey shade",
         {g(255), g(127), g(0), Grey, g(235), g(215)}},
        {"int", idtInteger, 2, 2, {-100, 0, 100, 50}, bsUnchecked, 0, "Grey shade",
         {g(255), g(127), g(0), g(64)}},
        {"intflag", idtInteger, 2, 2, {-9999, 0, 100, 50}, bsChecked, -9999, "Grey shade",
         {Grey, g(255), g(0), g(127)}},
        {"real", idtReal, 2, 2, {-1, 0, 1, 0.5}, bsUnchecked, -1, "Rainbow",
         {0x000000, 0xFF0000, 0xFFFFFE, 0xFFFE00}},
        {"realflag", idtReal, 2, 2, {-1, 0, 1, 0.5}, bsChecked, -1, "Rainbow",
         {Grey, 0x000000, 0xFFFFFE, 0xFF0000}},
        // clang-format on
    };
    for (const auto& c : cases)
      WriteMap(M(std::string(c.Name) + "_QT"), c.Type, c.Rows, c.Columns, c.Cells, 0, 1, c.Background,
               c.Flag);
    TdlgKelvora& w = Open();
    QString title;
    for (const char* format : {"Bitmap (*.bmp)", "JPEG (*.jpg)"}) {
      w.cbFormat->setCurrentIndex(w.cbFormat->findText(format));
      for (const auto& c : cases) {
        const std::string name = std::string(c.Name) + "_QT";
        Select(w, {QString::fromStdString(name + ".rst")});
        w.cbPalette->setCurrentIndex(w.cbPalette->findText(c.Palette));
        QTimer::singleShot(0, &w, [&] {
          if (w.ExportImage() && w.ExportImage()->isWindow() && w.ExportImage()->isVisible())
            title = w.ExportImage()->windowTitle();
        });
        w.btExport->click();
        QCOMPARE(title, QString::fromStdString("Export: " + name));
        QVERIFY(!w.ExportImage());
        if (format[0] == 'B') {
          const tReadPicture p = ReadBitmapFile(M(name + ".bmp"));
          QVERIFY2(p.Problem.empty(), p.Problem.c_str());
          QCOMPARE(std::pair(p.Width, p.Height), std::pair(c.Columns, c.Rows));
          for (int i = 0; i < c.Rows * c.Columns; ++i)
            QCOMPARE(p.At(i % c.Columns, i / c.Columns), c.Pixels[i]);
          continue;
        }
        tDecodedJpeg j;
        QVERIFY(DecodeJpeg(M(name + ".jpg"), j));
        QVERIFY(j.Progressive && j.QuantisationAllOne);
        QCOMPARE(std::pair(j.Width, j.Height), std::pair(c.Columns, c.Rows));
        // Grey pictures carry no colour to subsample: each pixel within a few levels.
        if (c.Palette[0] == 'G')
          for (int i = 0; i < c.Rows * c.Columns; ++i)
            QVERIFY(std::abs(int(j.At(i % c.Columns, i / c.Columns) & 0xFF) - int(c.Pixels[i] & 0xFF)) <= 3);
      }
    }
    // Every format beside the map under the map's name.
    Select(w, {"int_QT.rst"});
    for (int f = 0; f < 5; ++f) {
      w.cbFormat->setCurrentIndex(f);
      w.btExport->click();
    }
    for (const char* extension : {".bmp", ".jpg", ".txt", ".bin", ".asc"})
      QVERIFY(fs::exists(M("int_QT") + extension));
    const std::string bin = ReadFileBytes(M("int_QT.bin"));
    std::vector<double> values(bin.size() / 8);
    std::memcpy(values.data(), bin.data(), bin.size());
    QCOMPARE(values, std::vector<double>({2, 2, -100, 0, 100, 50}));
    QVERIFY(LogLines(w).isEmpty());
  }

  void AFailedExportIsLoggedAndLeavesNoHalfWrittenFile() {
    WriteMap(M("a_QT"), idtByte, 100, 100, std::vector<utile::Single>(10000, 1), 1, 1);
    WriteFileBytes(M("a_QT.bmp"), "earlier export");
    WriteMap(M("b_QT"), idtByte, 1, 2, {0, 1}, 0, 1);
    fs::remove(M("b_QT.rst"));
    WriteMap(M("c_QT"), idtReal, 2, 2, {0, 1, 2, 3}, 0, 3);
    WriteFileBytes(M("c_QT.rst"), "12345");
    WriteFileBytes(M("d_QT.rdc"), "garbled\r\n");
    WriteFileBytes(M("d_QT.rst"), std::string(4, '\0'));
    WriteMap(M("e_QT"), idtByte, 1, 2, {0, 1}, 0, 1);
    fs::create_directory(M("e_QT.bmp"));  // the export's name taken by a folder
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    Select(w, {"a_QT.rst", "b_QT.rdc", "c_QT.rst", "d_QT.rst", "e_QT.rst"});
    w.cbFormat->setCurrentIndex(w.cbFormat->findText("Bitmap (*.bmp)"));
    {
      tFileSizeLimit limit(10'000);  // the 30 kB picture fails midway
      w.btExport->click();
    }
    QStringList errors;
    for (const QString& line : LogLines(w))
      if (line.endsWith(" generated an error. Check it.")) errors << line.section(' ', 0, 0);
    QCOMPARE(errors, QStringList({"a_QT", "b_QT", "c_QT", "d_QT", "e_QT"}));
    QCOMPARE(FolderFiles(fMaps->Path()), before);
    QVERIFY(fs::is_directory(M("e_QT.bmp")));
  }

  void TheMapImageSavesItsPictureAndItsMatrix() {
    tGraphMap image;
    QVERIFY_THROWS_EXCEPTION(utile::EInvalidOperation, image.SaveToBitmapFile(M("none.bmp")));
    QVERIFY_THROWS_EXCEPTION(utile::EInvalidOperation, image.SaveMatrixToFile(M("none.txt"), false));
    image.SetMatrix({{0.1, -2.5, 1e-20}, {3, 7.25, 1e300}});
    image.SetPalette(utile::CreatePalette(utile::tPaletteType::ptBoolean));
    image.Draw();
    image.SaveMatrixToFile(M("m.bin"), true);
    image.SaveMatrixToFile(M("m.txt"), false);
    image.SaveToBitmapFile(M("m.bmp"));
    const std::string bin = ReadFileBytes(M("m.bin"));
    std::vector<double> values(bin.size() / 8);
    std::memcpy(values.data(), bin.data(), bin.size());
    QCOMPARE(values, std::vector<double>({2, 3, 0.1, -2.5, 1e-20, 3, 7.25, 1e300}));
    // Text: the counts, then each row to 15 significant digits.
    std::istringstream text(ReadFileBytes(M("m.txt")));
    int rows, columns;
    text >> rows >> columns;
    QCOMPARE(std::pair(rows, columns), std::pair(2, 3));
    for (int i = 2; i < 8; ++i) {
      std::string cell;
      text >> cell;
      QVERIFY(std::fabs(testsupport::PointNumber(cell) - values[i]) <= 1e-14 * std::fabs(values[i]));
    }
    // Boolean over -2.5..1e300: every cell but the largest is white.
    const tReadPicture p = ReadBitmapFile(M("m.bmp"));
    QCOMPARE(p.Rgb.size(), size_t(18));
    for (int i = 0; i < 6; ++i) QCOMPARE(p.At(i % 3, i / 3), i == 5 ? 0u : 0xFFFFFFu);
    QVERIFY(fDialogs->Messages.empty());
  }

  void AWalkLocksTheWindowAndACloseWaitsForItsEnd() {
    WriteMap(M("a_QT"), idtReal, 2, 2, {0, 1, 2, 3}, 0, 3);
    fs::create_directory(M("elsewhere"));
    TdlgKelvora& w = Open();
    Select(w, {"a_QT.rst"});
    w.rbReal->setChecked(true);
    w.rbTrunc->setChecked(true);
    const std::string folder = w.CurrentFolder();
    QSignalSpy closed(&w, &TdlgKelvora::Closed);
    // What a person tries while the walk lets messages through.
    struct tSeen {
      bool During = false, Locked = false, FolderKept = false, Open = false;
    } seen;
    auto tryEverything = [&] {
      seen.During = w.WalkRunning();
      seen.Locked = true;
      for (QWidget* c :
           std::initializer_list<QWidget*>{w.cbDrive, w.cbDirectory, w.cbMaps, w.cbFilter,
                                           w.btConvertDataType, w.btModify, w.btExport, w.btDelete})
        seen.Locked &= !c->isEnabled();
      seen.Locked &= !w.mnExit->isEnabled();
      w.btModifyClick();
      w.btExportClick();
      w.btConvertDataTypeClick();
      seen.FolderKept = !w.ChangeFolder(M("elsewhere")) && w.CurrentFolder() == folder;
      w.mnExit->trigger();
      w.close();
      seen.Open = w.isVisible() && closed.isEmpty();
    };
    // During the conversion from the gauge's move, during the export from a message
    // let through once the picture is drawn.
    connect(w.ggTask, &QProgressBar::valueChanged, &w, [&](int value) {
      if (value == 50) tryEverything();
    });
    for (QPushButton* button : {w.btConvertDataType, w.btExport}) {
      seen = {};
      w.show();
      if (button == w.btExport) QTimer::singleShot(0, &w, tryEverything);
      button->click();
      QVERIFY(seen.During && seen.Locked && seen.FolderKept && seen.Open);
      QTRY_COMPARE(closed.size(), 1);
      QVERIFY(!w.isVisible());
      closed.clear();
    }
    // One conversion and one export, nothing else.
    QCOMPARE(LogLines(w), QStringList({"a_QT converted to real data type."}));
    QCOMPARE(FileNames(fMaps->Path()),
             std::vector<std::string>({"a-mod_QT.rdc", "a-mod_QT.rst", "a_QT.jpg", "a_QT.rdc", "a_QT.rst"}));
    QVERIFY(fDialogs->Messages.empty());
  }
};

int main(int argc, char* argv[]) {
  InitialiseToolkit();
  utile::gui::tApplication application(argc, argv);
  utile::gui::InstallMessagePump();
  KelvoraMapOperationsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "KelvoraMapOperationsTest.moc"
