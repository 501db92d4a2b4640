// The main window of the map-file manager on real map files: the enabling rules,
// the metadata view, every file operation and the preview.
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QButtonGroup>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>
#include <filesystem>

#include "KelvoraHarness.h"
#include "TestSupport/ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/MapFileOps.h"
#include "Utile/gui/WindowServices.h"
#include "mapfiles/GraphMap.h"
#include "mapfiles/Kelvora.h"

using namespace kelvora;
using namespace testsupport;
using utile::idtByte;
using utile::idtInteger;
using utile::idtReal;
namespace fs = std::filesystem;

class KelvoraWindowTest : public QObject, tKelvoraSession {
  Q_OBJECT

  TdlgKelvora& Open() { return OpenWindow(); }

  // The enabled state of the operation buttons, by name.
  static QMap<QString, bool> Enabled(const TdlgKelvora& w) {
    QMap<QString, bool> states;
    for (QPushButton* b : {w.btDelete, w.btAddPrefix, w.btAddSuffix, w.btDisplay, w.btRename, w.btCleanMetadata,
                           w.btDecimalPoint, w.btDecimalComma, w.btRemoveUnderscore, w.btRemoveBadChars,
                           w.btConvertDataType, w.btModify, w.btAddComments, w.btExport})
      states[b->objectName()] = b->isEnabled();
    return states;
  }

  // A choice of a group left with none checked, and checked again.
  static void Uncheck(QRadioButton* choice) {
    if (choice->group()) choice->group()->setExclusive(false);
    choice->setAutoExclusive(false);
    choice->setChecked(false);
  }
  static void Recheck(QRadioButton* choice) {
    choice->setChecked(true);
    choice->setAutoExclusive(true);
    if (choice->group()) choice->group()->setExclusive(true);
  }

  static QColor Pixel(const TdlgKelvora& w, int x, int y) { return w.PreviewMap->Picture().pixelColor(x, y); }

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void EveryEnablingRuleOneInputAtATime() {
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    // Everything that the rules ask for, but no selection: every button is off.
    w.edSuffix->setText("_v2");
    w.edRename->setText("Forest#");
    w.rbByte->setChecked(true);
    w.rbRound->setChecked(true);
    w.mmComment->setPlainText("seen");
    for (bool on : Enabled(w)) QVERIFY(!on);

    Select(w, {"forest_QT.rst"});
    QCOMPARE(w.NbSelected, 1);
    for (bool on : Enabled(w)) QVERIFY(on);
    struct tCase {
      const char* change;
      std::function<void()> apply, undo;
      QStringList off;
    };
    const QStringList conversions{"btConvertDataType", "btModify"};
    const std::vector<tCase> cases = {
        {"edSuffix empty", [&] { w.edSuffix->clear(); }, [&] { w.edSuffix->setText("_v2"); }, {"btAddPrefix", "btAddSuffix"}},
        {"edRename empty", [&] { w.edRename->clear(); }, [&] { w.edRename->setText("Forest#"); }, {"btRename"}},
        {"comment empty", [&] { w.mmComment->clear(); }, [&] { w.mmComment->setPlainText("seen"); }, {"btAddComments"}},
        {"edDTSuffix empty", [&] { w.edDTSuffix->clear(); }, [&] { w.edDTSuffix->setText("-mod"); }, conversions},
        {"no output", [&] { Uncheck(w.rbDTNewName); }, [&] { Recheck(w.rbDTNewName); }, conversions},
        {"replace, empty suffix", [&] { w.rbDTReplace->setChecked(true), w.edDTSuffix->clear(); },
         [&] { w.rbDTNewName->setChecked(true), w.edDTSuffix->setText("-mod"); }, {}},
        {"no conversion", [&] { Uncheck(w.rbByte); }, [&] { Recheck(w.rbByte); }, {"btConvertDataType"}},
        {"no modification", [&] { Uncheck(w.rbRound); }, [&] { Recheck(w.rbRound); }, {"btModify"}},
    };
    for (const tCase& c : cases) {
      c.apply();
      const auto states = Enabled(w);
      for (auto it = states.begin(); it != states.end(); ++it)
        QVERIFY2(it.value() != c.off.contains(it.key()), qPrintable(QString(c.change) + ": " + it.key()));
      c.undo();
      for (bool on : Enabled(w)) QVERIFY2(on, c.change);
    }
    // Each of the choices of a group enables its button.
    for (QRadioButton* r : {w.rbReal, w.rbInteger, w.rbOptimise, w.rbTrunc, w.rbBoolean, w.rbStretch, w.rbStretch01,
                            w.rbModSmallestSize, w.rbStretchAB}) {
      r->setChecked(true);
      QVERIFY(w.btConvertDataType->isEnabled() && w.btModify->isEnabled());
    }
    // Typing a suffix chooses the output with a suffix.
    w.rbDTReplace->setChecked(true);
    QTest::keyClicks(w.edDTSuffix, "x");
    QVERIFY(w.rbDTNewName->isChecked());
    // A and B take real numbers only.
    w.edA->clear();
    QTest::keyClicks(w.edA, "-1a,5.2e");
    QCOMPARE(w.edA->text(), QString("-15.2"));

    // Text files alone: Delete and Display, no documentation to show.
    w.mmComment->clear();
    w.edSuffix->clear();
    w.edRename->clear();
    Select(w, {"notes.txt"});
    QVERIFY(w.btDelete->isEnabled() && w.btDisplay->isEnabled());
    QVERIFY(w.mmMetadata->toPlainText().isEmpty());
  }

  void TheMetadataViewShowsTheFocusedMapsDocumentation() {
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("cover"), idtReal);
    WriteFileBytes(M("lost.rst"), std::string(4, '\0'));
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    Select(w, {"forest_QT.rst"});
    QString expected = QString::fromStdString(ReadFileBytes(M("forest_QT.rdc")));
    expected.remove('\r');
    QCOMPARE(w.mmMetadata->toPlainText(), expected);
    Select(w, {});
    QVERIFY(w.mmMetadata->toPlainText().isEmpty());
    QVERIFY(fDialogs->Messages.empty());
    // An image file without its documentation: the error box names the file.
    Select(w, {"lost.rst"});
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QCOMPARE(fDialogs->Kinds[0], utile::gui::tMessageKind::mkError);
    QVERIFY(QString::fromStdString(fDialogs->Messages[0]).contains("lost.rdc"));
    QVERIFY(w.mmMetadata->toPlainText().isEmpty());

    // The keyboard moves the selection and the count follows.
    Select(w, {"cover.rdc"});
    w.cbMaps->setFocus();
    QTest::keyClick(w.cbMaps, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(w.NbSelected, 2);
    QTest::keyClick(w.cbMaps, Qt::Key_Down);
    QCOMPARE(w.NbSelected, 1);
    QCOMPARE(w.cbMaps->currentItem()->text(), QString("forest_QT.rdc"));
    QVERIFY(w.mmMetadata->toPlainText().startsWith("file format : IDRISI Raster A.1\nfile title  : Test map"));
  }

  void TheFolderListEntersAFolderAndTheFileListReadsIt() {
    fs::create_directories(M("sub"));
    fs::create_directories(M(".hidden"));
    WriteSmallMap(M("sub/inner"), idtByte);
    WriteFileBytes(M("top.txt"), "t");
    TdlgKelvora& w = Open();
    const std::string folder = fs::canonical(fMaps->Path()).string();
    QStringList folders;
    for (int i = 0; i < w.cbDirectory->count(); ++i) folders << w.cbDirectory->item(i)->text().trimmed();
    QCOMPARE(folders.back(), QString("sub"));
    QCOMPARE(folders[folders.size() - 2], QString::fromStdString(fs::path(folder).filename().string()));
    QCOMPARE(folders.front(), QString("/"));
    QVERIFY(w.cbDrive->findText("/") >= 0);
    QVERIFY(folder.starts_with(w.cbDrive->currentText().toStdString()));
    QCOMPARE(Listed(w), QStringList({"top.txt"}));
    // Enter on a subfolder opens it.
    w.cbDirectory->setCurrentRow(w.cbDirectory->count() - 1);
    QTest::keyClick(w.cbDirectory, Qt::Key_Return);
    QTRY_COMPARE(w.CurrentFolder(), folder + "/sub");
    QCOMPARE(Listed(w), QStringList({"inner.rdc", "inner.rst"}));
    w.cbFilter->setCurrentIndex(0);
    QCOMPARE(Listed(w), QStringList({"inner.rst"}));
  }

  void DeleteAsksThenDeletesEachMapOnce() {
    WriteSmallMap(M("cover"), idtReal);
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("run1.5"), idtInteger);
    fs::remove(M("run1.5.rst"));
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    Select(w, {"forest_QT.rdc", "forest_QT.rst", "notes.txt", "run1.5.rdc"});
    // No: nothing happens, nothing is written.
    fDialogs->Confirmations = {false};
    w.btDelete->click();
    QCOMPARE(fDialogs->Messages, std::vector<std::string>(
                                     {"This will permanently delete 3 maps. Are you sure it is really what you want to do?"}));
    QCOMPARE(FolderFiles(fMaps->Path()), before);
    QVERIFY(LogLines(w).isEmpty());

    fDialogs->Confirmations = {true};
    w.btDelete->click();
    QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"cover.rdc", "cover.rst"}));
    QCOMPARE(LogLines(w), QStringList({"run1.5 deleted", "notes deleted", "forest_QT deleted"}));
    QCOMPARE(Listed(w), QStringList({"cover.rdc", "cover.rst"}));
    QCOMPARE(w.NbSelected, 0);
    QVERIFY(!w.btDelete->isEnabled());
  }

  void PrefixAndSuffixRenameBothFilesOfAMap() {
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("run1.5_QT"), idtInteger);
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    Select(w, {"forest_QT.rst", "notes.txt", "run1.5_QT.rdc", "run1.5_QT.rst"});
    w.edSuffix->setText("_v2");
    w.btAddSuffix->click();
    QCOMPARE(LogLines(w), QStringList({"run1.5_QT renamed", "notes renamed", "forest_QT renamed"}));
    const std::map<std::string, std::string> expected = {
        {"forest_v2_QT.rdc", before.at("forest_QT.rdc")}, {"forest_v2_QT.rst", before.at("forest_QT.rst")},
        {"notes_v2.txt", "n"}, {"run1.5_v2_QT.rdc", before.at("run1.5_QT.rdc")},
        {"run1.5_v2_QT.rst", before.at("run1.5_QT.rst")}};
    QCOMPARE(FolderFiles(fMaps->Path()), expected);

    w.mmOutput->clear();
    Select(w, {"forest_v2_QT.rst", "notes_v2.txt"});
    w.edSuffix->setText("old ");
    w.btAddPrefix->click();
    QCOMPARE(LogLines(w), QStringList({"notes_v2 renamed", "forest_v2_QT renamed"}));
    QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"old forest_v2_QT.rdc", "old forest_v2_QT.rst",
                                                                 "old notes_v2.txt", "run1.5_v2_QT.rdc",
                                                                 "run1.5_v2_QT.rst"}));
  }

  void RenamesByPatternCountTheMapsThatTookANumber() {
    WriteSmallMap(M("cover"), idtReal);
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteFileBytes(M("notes.txt"), "n");
    {
      TdlgKelvora& w = Open();
      Select(w, {"cover.rst", "forest_QT.rst", "notes.txt"});
      w.edRename->setText("Forest#");
      w.btRename->click();
      QCOMPARE(LogLines(w), QStringList({"cover was renamed Forest001", "forest_QT was renamed Forest002",
                                         "notes was renamed Forest003"}));
      QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"Forest001.rdc", "Forest001.rst", "Forest002.rdc",
                                                                   "Forest002.rst", "Forest003.txt"}));
      QVERIFY(fDialogs->Messages.empty());
    }
    // A failed map uses up no number.
    cleanup();
    init();
    WriteFileBytes(M("a.txt"), "a");
    WriteSmallMap(M("cover"), idtReal);
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteFileBytes(M("Forest001.txt"), "taken");
    TdlgKelvora& w = Open();
    Select(w, {"a.txt", "cover.rdc", "forest_QT.rst"});
    w.edRename->setText("Forest#");
    w.btRename->click();
    const std::string why = "Cannot rename a.txt to Forest001.txt: a file of that name exists already";
    QCOMPARE(LogLines(w), QStringList({"a generated an error. Check it.", "    " + QString::fromStdString(why),
                                       "cover was renamed Forest001", "forest_QT was renamed Forest002"}));
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({why}));
    QCOMPARE(fDialogs->Kinds[0], utile::gui::tMessageKind::mkError);
    QCOMPARE(ReadFileBytes(M("Forest001.txt")), std::string("taken"));
    QCOMPARE(ReadFileBytes(M("a.txt")), std::string("a"));
  }

  void UnderscoresAndBracketsLeaveNamesWithoutThemAlone() {
    WriteSmallMap(M("cover"), idtReal);
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("map(1)"), idtByte);
    TdlgKelvora& w = Open();
    Select(w, {"cover.rst", "forest_QT.rst", "map(1).rdc"});
    w.btRemoveUnderscore->click();
    QCOMPARE(LogLines(w), QStringList({"forest_QT was renamed forestQT"}));
    w.mmOutput->clear();
    Select(w, {"cover.rst", "forestQT.rst", "map(1).rdc"});
    w.btRemoveBadChars->click();
    QCOMPARE(LogLines(w), QStringList({"map(1) was renamed map-1-"}));
    QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"cover.rdc", "cover.rst", "forestQT.rdc",
                                                                 "forestQT.rst", "map-1-.rdc", "map-1-.rst"}));
    QVERIFY(fDialogs->Messages.empty());
  }

  void CommentsAndCleaningActOnEachSelectedRasterOnce() {
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("notes"), idtByte);
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    const std::string notes = ReadFileBytes(M("notes.rdc"));
    Select(w, {"forest_QT.rdc", "forest_QT.rst", "notes.txt"});
    w.mmComment->setPlainText("first line\nsecond\n");
    w.btAddComments->click();
    QCOMPARE(LogLines(w), QStringList({"notes generated an error. Check it.",
                                       "    notes.txt is not a raster map: its documentation cannot be changed",
                                       "forest_QT: Comment added."}));
    auto linesOf = [](const std::string& text, const std::string& key) {
      QStringList lines;
      for (const QString& line : QString::fromStdString(text).split("\r\n"))
        if (line.startsWith(QString::fromStdString(key))) lines << line.mid(14);
      return lines;
    };
    QCOMPARE(linesOf(ReadFileBytes(M("forest_QT.rdc")), "comment     : "),
             QStringList({"original", "first line", "second"}));
    QCOMPARE(ReadFileBytes(M("notes.rdc")), notes);
    QVERIFY(!fs::exists(M("notes.txt.rdc")));
    QCOMPARE(w.NbSelected, 3);  // the files are still there, still selected

    // Cancel leaves everything; OK empties the four lists.
    w.mmOutput->clear();
    const auto before = FolderFiles(fMaps->Path());
    fDialogs->Confirmations = {false, true};
    w.btCleanMetadata->click();
    QCOMPARE(FolderFiles(fMaps->Path()), before);
    QCOMPARE(fDialogs->Messages.back(),
             std::string("This will clear all comments and lineage information of the selected maps. Are you sure?"));
    w.btCleanMetadata->click();
    QCOMPARE(LogLines(w), QStringList({"forest_QT's metadata have been cleaned", "notes generated an error. Check it.",
                                       "    notes.txt is not a raster map: its documentation cannot be changed"}));
    QVERIFY(linesOf(ReadFileBytes(M("forest_QT.rdc")), "comment     : ").isEmpty());
    QVERIFY(linesOf(ReadFileBytes(M("forest_QT.rdc")), "lineage     : ").isEmpty());
    QCOMPARE(ReadFileBytes(M("notes.rdc")), notes);
  }

  void DecimalSeparatorsRewriteTheNumbersOfEachMap() {
    WriteSmallMap(M("a"), idtByte);
    WriteFileBytes(M("bad.rdc"), "data type   : byte\r\ncolumns     : 2,5\r\nrows        : 1\r\n");
    WriteFileBytes(M("bad.rst"), "");
    const std::string a = ReadFileBytes(M("a.rdc"));
    const std::string edited = std::string(a).replace(a.find("max. X      : 2"), 16, "max. X      : 2,5");
    WriteFileBytes(M("a.rdc"), edited);
    TdlgKelvora& w = Open();
    const std::string bad = ReadFileBytes(M("bad.rdc"));
    Select(w, {"a.rst", "bad.rst"});
    w.btDecimalPoint->click();
    QCOMPARE(ReadFileBytes(M("a.rdc")), std::string(a).replace(a.find("max. X      : 2"), 16, "max. X      : 2.5"));
    QCOMPARE(ReadFileBytes(M("bad.rdc")), bad);
    QCOMPARE(LogLines(w).size(), 2);
    QCOMPARE(LogLines(w)[0], QString("bad generated an error. Check it."));
    w.btDecimalComma->click();
    QCOMPARE(ReadFileBytes(M("a.rdc")), edited);
    QCOMPARE(FileNames(fMaps->Path()), std::vector<std::string>({"a.rdc", "a.rst", "bad.rdc", "bad.rst"}));
  }

  void TheViewerGetsCallAndTheFullNameOfEachMap() {
    WriteSmallMap(M("my map"), idtByte);
    WriteFileBytes(M("notes.txt"), "n");
    TdlgKelvora& w = Open();
    Select(w, {"my map.rst", "notes.txt"});
    // Without the viewer each map says so, and the walk goes on.
    w.btDisplay->click();
    QCOMPARE(fDialogs->Messages, std::vector<std::string>(2, "Orbisk was not found or is corrupt"));
    QVERIFY(LogLines(w).isEmpty());
    WriteFileBytes(fProgram->File("Orbisk"),
              "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$0.$$.tmp\"\nmv \"$0.$$.tmp\" \"$0.$$\"\n");
    fs::permissions(fProgram->File("Orbisk"), fs::perms::owner_all);
    w.btDisplay->click();
    // Each viewer writes its arguments aside, then renames them in.
    const auto calls = [this] {
      std::vector<std::string> done;
      for (const auto& [name, text] : FolderFiles(fProgram->Path()))
        if (name != "Orbisk" && !name.ends_with(".tmp")) done.push_back(text);
      std::sort(done.begin(), done.end());
      return done;
    };
    // The viewers run on their own: waited for however long they take to start
    // (a minute stands for never).
    QTRY_COMPARE_WITH_TIMEOUT(calls().size(), size_t(2), 60000);
    QCOMPARE(calls(), std::vector<std::string>({"[call]\n[" + M("my map.rst") + "]\n", "[call]\n[" + M("notes.txt") + "]\n"}));
    QCOMPARE(fDialogs->Messages.size(), size_t(2));
  }

  void AnUnwritableFolderFailsEachMapAndKeepsEveryFile() {
    WriteSmallMap(M("a_QT"), idtByte);
    WriteSmallMap(M("b_QT"), idtReal);
    TdlgKelvora& w = Open();
    const auto before = FolderFiles(fMaps->Path());
    if (!SetUnwritableFolder(fMaps->Path(), true)) QSKIP("no unwritable folders here");
    Select(w, {"a_QT.rst", "b_QT.rst"});
    w.btRemoveUnderscore->click();
    w.mmComment->setPlainText("c");
    w.btAddComments->click();
    SetUnwritableFolder(fMaps->Path(), false);
    const QStringList lines = LogLines(w);
    QCOMPARE(lines.size(), 8);
    for (int i : {0, 2, 4, 6}) QVERIFY(lines[i].endsWith(" generated an error. Check it."));
    QCOMPARE(QStringList({lines[0], lines[2], lines[4], lines[6]}),
             QStringList({"a_QT generated an error. Check it.", "b_QT generated an error. Check it.",
                          "b_QT generated an error. Check it.", "a_QT generated an error. Check it."}));
    QCOMPARE(fDialogs->Messages.size(), size_t(2));
    QCOMPARE(FolderFiles(fMaps->Path()), before);
  }

  void TheOlderConventionNamesMapsByItsOwnExtensions() {
    WriteFileBytes(fProgram->File("idrisi.env"), "");
    utile::EnvironnementIdrisi(fProgram->Path());
    WriteSmallMap(M("forest_QT"), idtByte);
    WriteSmallMap(M("cover"), idtReal);
    TdlgKelvora& w = Open();
    QCOMPARE(utile::IdrisiVersion, utile::ivIdrisi16);
    w.cbFilter->setCurrentIndex(0);
    QCOMPARE(Listed(w), QStringList({"cover.img", "forest_QT.img"}));
    Select(w, {"forest_QT.img"});
    QVERIFY(w.mmMetadata->toPlainText().startsWith("file title  : Test map\ndata type   : byte\n"));
    w.edSuffix->setText("_v2");
    w.btAddSuffix->click();
    QCOMPARE(FileNames(fMaps->Path()),
             std::vector<std::string>({"cover.doc", "cover.img", "forest_v2_QT.doc", "forest_v2_QT.img"}));
    fs::remove(fProgram->File("idrisi.env"));
    utile::EnvironnementIdrisi(fProgram->Path());
  }

  void ThePreviewDrawsTheFirstSelectedRasterOnTheConversionPage() {
    // Rainbow over 0..1023: entry k is the value itself (1024 entries).
    WriteMap(M("b_real"), idtReal, 2, 3, {0, 256, 512, 768, 1023, -1}, 0, 1023, utile::bsChecked, -1);
    WriteSmallMap(M("c_byte"), idtByte);
    WriteFileBytes(M("a.txt"), "n");
    TdlgKelvora& w = Open();
    w.show();
    Select(w, {"a.txt", "c_byte.rst", "b_real.rst"});
    QCOMPARE(w.PreviewReads(), 0);  // not on its page
    w.pcOperations->setCurrentWidget(w.tsConversion);
    QCOMPARE(w.PreviewReads(), 1);
    QVERIFY(w.PreviewMap->isVisible());
    QCOMPARE(w.PreviewMap->Picture().size(), QSize(3, 2));
    const QColor expected[2][3] = {{QColor(0, 0, 0), QColor(0, 0, 255), QColor(255, 0, 0)},
                                   {QColor(255, 255, 0), QColor(255, 255, 254), QColor(128, 128, 128)}};
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) QCOMPARE(Pixel(w, x, y), expected[y][x]);
    // Boolean: white up to the middle of the range (511.5), black above.
    w.cbPalette->setCurrentIndex(w.cbPalette->findText("Boolean"));
    QCOMPARE(Pixel(w, 1, 0), QColor(255, 255, 255));
    QCOMPARE(Pixel(w, 2, 0), QColor(0, 0, 0));
    QCOMPARE(Pixel(w, 2, 1), QColor(128, 128, 128));
    QCOMPARE(w.PreviewReads(), 2);
    // Typing elsewhere and hiding the preview read nothing again.
    for (int i = 0; i < 10; ++i) QTest::keyClick(w.edSuffix, Qt::Key_A);
    w.ckPreview->setChecked(false);
    QVERIFY(!w.PreviewMap->isVisible());
    w.ckPreview->setChecked(true);
    QVERIFY(w.PreviewMap->isVisible());
    QCOMPARE(w.PreviewReads(), 2);

    // Without a flag in force the -1 cell takes the first colour.
    WriteMap(M("b_real"), idtReal, 2, 3, {0, 256, 512, 768, 1023, -1}, 0, 1023, utile::bsUnchecked, -1);
    w.RefreshFileList();
    QCOMPARE(w.PreviewReads(), 3);
    QCOMPARE(Pixel(w, 2, 1), QColor(255, 255, 255));
    QCOMPARE(Pixel(w, 1, 1), QColor(0, 0, 0));

    // A truncated image file empties the preview without a word.
    WriteFileBytes(M("b_real.rst"), std::string(10, '\0'));
    w.RefreshFileList();
    QVERIFY(w.PreviewMap->IsEmpty());
    QVERIFY(fDialogs->Messages.empty());
    // Nothing selected: nothing shown.
    Select(w, {"c_byte.rst"});
    QVERIFY(!w.PreviewMap->IsEmpty());
    Select(w, {});
    QVERIFY(w.PreviewMap->IsEmpty());

    // A map image without parent is a window of its own, with the shared map menu.
    tGraphMap own;
    QVERIFY(own.isWindow() && own.isVisible());
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), own.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&own, &menu);
    QCOMPARE(utile::gui::GraphMapPopUp().CallingGraphMap.data(), &own);
    utile::gui::GraphMapPopUp().close();
  }
};

int main(int argc, char* argv[]) {
  InitialiseToolkit();
  utile::gui::tApplication application(argc, argv);
  KelvoraWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "KelvoraWindowTest.moc"
