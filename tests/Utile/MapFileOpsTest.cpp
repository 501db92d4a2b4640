#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <limits>

#include "TestSupport/Emulation.h"
#include "TestSupport/MapFiles.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/MapFileOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

using namespace utile;
using testsupport::FolderFiles;
using testsupport::ReadFileBytes;
using testsupport::SetImmutable;
using testsupport::tTempFolder;
using testsupport::WriteFileBytes;

namespace {

// A small byte map written through the raster routines.
void WriteMap(const std::string& name) {
  tRaster map;
  map.FileName = name;
  map.DataType = idtByte;
  map.Columns = 2;
  map.Rows = 1;
  map.maxX = 2.5;
  map.maxY = 1;
  map.MaxValue = 1;
  map.Comment = {"first"};
  map.Lineage = {"made by hand"};
  map.WriteDoc();
  TIdrisiFile f;
  map.OpenW(f);
  WriteRaster(f, 0);
  WriteRaster(f, 1);
  CloseRaster(f);
}


TEST(MapFileOps, MapNamesKeepDotsAndFoldersOfTheMapName) {
  struct tCase {
    std::string name, suffix, mapName, underscore, inserted, replaced;
  };
  const tCase cases[] = {
      {"/d/forest_QT.rst", "_v2", "forest_QT", "_QT", "/d/forest_v2_QT.rst", "/d/forest_v2.rst"},
      {"forest_QT", "-mod", "forest_QT", "_QT", "forest-mod_QT", "forest-mod"},
      {"run1.5_QT.rdc", "_v2", "run1.5_QT", "_QT", "run1.5_v2_QT.rdc", "run1.5_v2.rdc"},
      {"run1.5_QT", "_v2", "", "_QT", "run1.5_v2_QT", "run1.5_v2"},
      {"/my_data/forest.rst", "_v2", "forest", "", "/my_data/forest_v2.rst", "/my_data/forest_v2.rst"},
      {"FOREST.RST", "_a", "FOREST", "", "FOREST_a.RST", "FOREST_a.RST"},
      {"a_b_c.rst", "_x", "a_b_c", "_c", "a_b_x_c.rst", "a_b_x.rst"},
  };
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.mapName.empty()) {
      EXPECT_EQ(c.mapName, ExtractMapName(c.name));
    }
    EXPECT_EQ(c.underscore, UnderscoreSuffix(c.name));
    EXPECT_EQ(c.inserted, InsertSuffix(c.name, c.suffix));
    EXPECT_EQ(c.replaced, ReplaceSuffix(c.name, c.suffix));
  }
  EXPECT_EQ("notes", ExtractMapName("/d/notes.txt"));
  EXPECT_FALSE(IsRasterFile("notes.txt"));
  EXPECT_TRUE(IsRasterFile("run1.5.RDC"));
  EXPECT_EQ("run1.5", MapBaseName("run1.5.rst"));
  EXPECT_EQ("run1.5", MapBaseName("run1.5"));
  // Under the older convention only its own extensions name maps.
  ChangeIdrisiVersion(ivIdrisi16);
  EXPECT_TRUE(IsRasterFile("a.img"));
  EXPECT_FALSE(IsRasterFile("a.rst"));
  EXPECT_EQ("a.doc", DocumentationFileOf("a.img"));
  ChangeIdrisiVersion(ivIdrisi32);
}

TEST(MapFileOps, NewStemsOfThePatternAndTheCleaningRenames) {
  const std::pair<std::pair<std::string, Integer>, std::string> patterns[] = {
      {{"Forest#", 1}, "Forest001"}, {{"A#_#", 12}, "A012_012"},   {{"50%#", 7}, "50%007"},
      {{"%s%d#", 1000}, "%s%d1000"}, {{"plain", 3}, "plain"},
  };
  for (const auto& [input, stem] : patterns) EXPECT_EQ(stem, PatternStem(input.first, input.second));
  EXPECT_EQ("forestQT", WithoutUnderscores("_forest__QT"));
  EXPECT_EQ("map-1--2-", WithoutBadCharacters("map(1)(2)"));
}

TEST(MapFileOps, TheWalkTakesEachMapOnceAndGoesOnAfterAFailure) {
  const std::vector<tListedFile> files = {
      {"a.rdc", true}, {"a.rst", true}, {"b.txt", true}, {"c.rst", false}, {"d.rst", true}, {"d.txt", true}};
  EXPECT_EQ((std::vector<std::string>{"a.rdc", "b.txt", "d.rst", "d.txt"}),
            MapsToWalk(files, tWalkOrder::woFirstToLast));
  EXPECT_EQ((std::vector<std::string>{"d.txt", "d.rst", "b.txt", "a.rst"}),
            MapsToWalk(files, tWalkOrder::woLastToFirst));

  std::vector<std::string> log;
  const Integer failed = WalkMaps({"x.rst", "y.rst", "z.rst"},
                                  {[&](const std::string& file, Integer n) {
                                     if (file == "y.rst") throw EInOutError("broken");
                                     log.push_back(Format("%d %s", n, file));
                                   },
                                   [&](const std::string& file, const std::string& why) {
                                     log.push_back(MapErrorLine(file) + " / " + why);
                                   }});
  EXPECT_EQ(1, failed);
  EXPECT_EQ((std::vector<std::string>{"1 x.rst", "y generated an error. Check it. / broken", "3 z.rst"}), log);
}

TEST(MapFileOps, RenamesMoveBothFilesAndNeverReplaceOne) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  WriteMap(f + "forest_QT");
  WriteMap(f + "taken");
  WriteFileBytes(f + "notes.txt", "n");
  const auto before = FolderFiles(folder.Path());

  // A name taken by either file of the map stops the rename before anything moves.
  WriteFileBytes(f + "other.rst", "x");
  EXPECT_THROW(RenameMap(f + "forest_QT.rst", [](const std::string&) { return "other"; }), EInOutError);
  EXPECT_THROW(RenameMap(f + "forest_QT.rdc", [](const std::string&) { return "taken"; }), EInOutError);
  EXPECT_THROW(RenameMap(f + "notes.txt", [](const std::string&) { return "../notes"; }), EInOutError);
  std::filesystem::remove(f + "other.rst");
  EXPECT_EQ(before, FolderFiles(folder.Path()));

  // A name that would not change is left alone.
  EXPECT_FALSE(RenameMap(f + "notes.txt", [](const std::string& s) { return s; }).Renamed);

  const tRenameResult result = RenameMap(f + "forest_QT.rst", [](const std::string& s) { return "pre" + s; });
  EXPECT_TRUE(result.Renamed);
  EXPECT_EQ(f + "preforest_QT.rst", result.NewFileName);
  auto expected = before;
  expected["preforest_QT.rst"] = expected["forest_QT.rst"];
  expected["preforest_QT.rdc"] = expected["forest_QT.rdc"];
  expected.erase("forest_QT.rst");
  expected.erase("forest_QT.rdc");
  EXPECT_EQ(expected, FolderFiles(folder.Path()));

  // The image file cannot move: the documentation file that moved first comes back.
  if (!SetImmutable(f + "taken.rst", true)) GTEST_SKIP() << "no immutable files here";
  EXPECT_THROW(RenameMap(f + "taken.rst", [](const std::string&) { return "moved"; }), EInOutError);
  SetImmutable(f + "taken.rst", false);
  EXPECT_EQ(expected, FolderFiles(folder.Path()));
}

TEST(MapFileOps, DeletingAMapWithoutItsImageDeletesTheDocumentation) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  WriteMap(f + "a");
  std::filesystem::remove(f + "a.rst");
  DeleteMapFile(f + "a.rdc");
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
  EXPECT_THROW(DeleteMapFile(f + "a.rst"), EInOutError);
  EXPECT_THROW(DeleteMapFile(f + "gone.txt"), EInOutError);

  // The dot of a map name belongs to it: run1.5.rst is the map run1.5.
  WriteMap(f + "run1.5");
  WriteFileBytes(f + "run1.rdc", "another map");
  EXPECT_TRUE(RenameMap(f + "run1.5.rst", [](const std::string& s) { return "x" + s; }).Renamed);
  DeleteMapFile(f + "xrun1.5.rdc");
  EXPECT_EQ((std::map<std::string, std::string>{{"run1.rdc", "another map"}}), FolderFiles(folder.Path()));
}

TEST(MapFileOps, DecimalSeparatorsChangeInNumbersOfNumberLinesOnly) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  // Lines end in CR LF except the title line and the last one, which has none.
  const std::string head = "file format : IDRISI Raster A.1\r\nfile title  : Plots 1.5, north\n";
  const std::string tail =
      "pos'n error : unknown\r\nvalue error : 0,25\r\nflag value  : none\r\nflag def'n  : none\r\n"
      "legend cats : 1\r\ncategory 1  : wood, 2.5 ha\r\ncomment     : seen 1.2, 3,4\r\nlineage     : v1.2";
  const std::string body =
      "data type   : byte\r\nfile type   : binary\r\ncolumns     : 2\r\nrows        : 1\r\n"
      "ref. system : plane\r\nref. units  : m\r\nunit dist.  : 1\r\n";
  WriteFileBytes(f + "m.rdc", head + body +
                             "min. X      : 12,5\r\nmax. X      : 20\r\nmin. Y      : -1,25e3\r\nmax. Y      : 3.5\r\n"
                             "resolution  : 3,75\r\nmin. value  : 0\r\nmax. value  : 2,5\r\n" + tail);
  EXPECT_TRUE(RewriteDecimalSeparator(f + "m.rst", '.'));
  EXPECT_EQ(head + body +
                "min. X      : 12.5\r\nmax. X      : 20\r\nmin. Y      : -1.25e3\r\nmax. Y      : 3.5\r\n"
                "resolution  : 3.75\r\nmin. value  : 0\r\nmax. value  : 2.5\r\n" +
                "pos'n error : unknown\r\nvalue error : 0.25\r\nflag value  : none\r\nflag def'n  : none\r\n"
                "legend cats : 1\r\ncategory 1  : wood, 2.5 ha\r\ncomment     : seen 1.2, 3,4\r\nlineage     : v1.2",
            ReadFileBytes(f + "m.rdc"));
  EXPECT_FALSE(RewriteDecimalSeparator(f + "m.rdc", '.'));
  EXPECT_TRUE(RewriteDecimalSeparator(f + "m.rdc", ','));
  EXPECT_EQ(head + body +
                "min. X      : 12,5\r\nmax. X      : 20\r\nmin. Y      : -1,25e3\r\nmax. Y      : 3,5\r\n"
                "resolution  : 3,75\r\nmin. value  : 0\r\nmax. value  : 2,5\r\n" +
                "pos'n error : unknown\r\nvalue error : 0,25\r\nflag value  : none\r\nflag def'n  : none\r\n"
                "legend cats : 1\r\ncategory 1  : wood, 2.5 ha\r\ncomment     : seen 1.2, 3,4\r\nlineage     : v1.2",
            ReadFileBytes(f + "m.rdc"));
  EXPECT_EQ(1u, FolderFiles(folder.Path()).size());
}

TEST(MapFileOps, DocumentationOperationsActOnRastersOnlyAndLeaveBadFilesAlone) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  WriteMap(f + "notes");
  WriteFileBytes(f + "notes.txt", "min. X      : 1,5\r\n");
  WriteFileBytes(f + "bad.rdc", "data type   : byte\r\ncolumns     : many\r\nrows        : 1\r\n");
  const auto before = FolderFiles(folder.Path());
  for (const std::string& file : {f + "notes.txt", f + "bad.rdc"}) {
    SCOPED_TRACE(file);
    EXPECT_THROW(AddComments(file, {"c"}), Exception);
    EXPECT_THROW(CleanMetadata(file), Exception);
    EXPECT_THROW(RewriteDecimalSeparator(file, '.'), Exception);
  }
  EXPECT_EQ(before, FolderFiles(folder.Path()));

  AddComments(f + "notes.rst", {"second", ""});
  std::string text = ReadFileBytes(f + "notes.rdc");
  EXPECT_NE(std::string::npos, text.find("comment     : first\r\ncomment     : second\r\ncomment     : \r\nlineage"));
  CleanMetadata(f + "notes.rdc");
  text = ReadFileBytes(f + "notes.rdc");
  EXPECT_EQ(std::string::npos, text.find("comment"));
  EXPECT_EQ(std::string::npos, text.find("lineage"));
  EXPECT_NE(std::string::npos, text.find("legend cats : 0\r\n"));
}

TEST(MapFileOps, TheLargestRealsOfTheDocumentationReadBackAfterEveryRewrite) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  WriteMap(f + "wide");
  // The extent as another program writes it: all seventeen digits of the largest double.
  std::string doc = ReadFileBytes(f + "wide.rdc");
  const auto replace = [&doc](const std::string& from, const std::string& to) {
    doc.replace(doc.find(from), from.size(), to);
  };
  replace("min. X      : 0\r\n", "min. X      : -1.7976931348623157e308\r\n");
  replace("max. X      : 2.5\r\n", "max. X      : 1.7976931348623157e308\r\n");
  WriteFileBytes(f + "wide.rdc", doc);
  const double largest = std::numeric_limits<double>::max();
  // Written again with fifteen digits, which round up beyond the largest double.
  const std::pair<std::string, std::function<void()>> rewrites[] = {
      {"1.79769313486232E308", [&] { CleanMetadata(f + "wide.rst"); }},
      {"1.79769313486232E308", [&] { AddComments(f + "wide.rst", {"after cleaning"}); }},
      {"1,79769313486232E308", [&] { RewriteDecimalSeparator(f + "wide.rst", ','); }},
      // Rewritten with the separator of the user's setting (a point here).
      {"1.79769313486232E308", [&] { AddComments(f + "wide.rst", {"with commas"}); }}};
  for (const auto& [written, rewrite] : rewrites) {
    SCOPED_TRACE(written);
    rewrite();
    const std::string text = ReadFileBytes(f + "wide.rdc");
    EXPECT_NE(std::string::npos, text.find("max. X      : " + written + "\r\n"));
    EXPECT_NE(std::string::npos, text.find("min. X      : -" + written + "\r\n"));
    const tRaster map(f + "wide");
    EXPECT_EQ(std::make_pair(double(map.minX), double(map.maxX)), std::make_pair(-largest, largest));
  }
}

TEST(MapFileOps, AWriteThatFailsMidwayLeavesTheDocumentationAsItWas) {
  tTempFolder folder;
  const std::string f = folder.Path() + "/";
  WriteMap(f + "a");
  const auto before = FolderFiles(folder.Path());
  // The file-size limit stops the write after 100 bytes; the signal it raises is ignored.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limit = old;
  limit.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_THROW(AddComments(f + "a.rst", {std::string(200, 'c')}), EInOutError);
  EXPECT_THROW(RewriteDecimalSeparator(f + "a.rst", ','), EInOutError);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(before, FolderFiles(folder.Path()));
}

TEST(MapFileOps, TheMapViewerGetsCallAndTheFullNameAsTwoWords) {
  if (testsupport::UnderUserEmulator()) GTEST_SKIP() << testsupport::UserEmulatorSkipReason();
  // The viewer's folder where programs may run (the temporary folder may not let
  // them); the map in the temporary folder.
  tTempFolder folder(utile::ExecutableFolder()), maps;
  const std::string f = folder.Path() + "/", map = maps.File("my map.rst");
  EXPECT_EQ(tStartResult::srNotFound, StartMapViewer(folder.Path(), map));
  WriteFileBytes(f + "Orbisk", "not a program");
  ::chmod((f + "Orbisk").c_str(), 0644);
  EXPECT_EQ(tStartResult::srNotFound, StartMapViewer(folder.Path(), map));
  WriteFileBytes(f + "Orbisk", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$0.tmp\"\nmv \"$0.tmp\" \"$0.args\"\n");
  ::chmod((f + "Orbisk").c_str(), 0755);
  ASSERT_EQ(tStartResult::srStarted, StartMapViewer(folder.Path(), map));
  // The viewer runs on its own: its answer is waited for, however long it takes
  // to start (a minute stands for never).
  const auto start = std::chrono::steady_clock::now();
  while (!FileExists(f + "Orbisk.args") && std::chrono::steady_clock::now() - start < std::chrono::minutes(1))
    ::usleep(10000);
  EXPECT_EQ("[call]\n[" + map + "]\n", ReadFileBytes(f + "Orbisk.args"));

  EXPECT_EQ("Orbisk was not found or is corrupt", MapViewerFailureMessage(tStartResult::srNotFound));
  EXPECT_EQ("Out of memory error", MapViewerFailureMessage(tStartResult::srNoResources));
}

}  // namespace
