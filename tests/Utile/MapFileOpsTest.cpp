#include <gtest/gtest.h>

#include "TestSupport/MapFiles.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/MapFileOps.h"

using namespace utile;

namespace {

TEST(MapFileOps, SuffixesGoInFrontOfTheMapKind) {
  const struct {
    const char *Name, *Suffix, *Inserted, *Replaced, *Underscore, *MapName;
  } cases[] = {
      {"forest_QT", "-mod", "forest-mod_QT", "forest-mod", "_QT", "forest_QT"},
      {"dir/forest_QT.rst", "_v2", "dir/forest_v2_QT.rst", "dir/forest_v2.rst", "_QT", "forest_QT"},
      {"notes.txt", "_v2", "notes_v2.txt", "notes_v2.txt", "", "notes"},
      {"a_b_c.rdc", "-x", "a_b-x_c.rdc", "a_b-x.rdc", "_c", "a_b_c"},
      {"run1.5_QT.rst", "-m", "run1.5-m_QT.rst", "run1.5-m.rst", "_QT", "run1.5_QT"},
      {"plain", "-m", "plain-m", "plain-m", "", "plain"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Inserted, InsertSuffix(c.Name, c.Suffix)) << c.Name;
    EXPECT_EQ(c.Replaced, ReplaceSuffix(c.Name, c.Suffix)) << c.Name;
    EXPECT_EQ(c.Underscore, UnderscoreSuffix(c.Name)) << c.Name;
    EXPECT_EQ(c.MapName, ExtractMapName(c.Name)) << c.Name;
  }
}

TEST(MapFileOps, DeleteMapTakesBothFilesOrTheOneThereIs) {
  ChangeIdrisiVersion(ivIdrisi32);
  testsupport::tTempFolder folder;
  testsupport::WriteFileBytes(folder.File("a.rst"), "x");
  testsupport::WriteFileBytes(folder.File("a.rdc"), "x");
  testsupport::WriteFileBytes(folder.File("b.rdc"), "x");
  testsupport::WriteFileBytes(folder.File("c.txt"), "x");
  DeleteMap(folder.File("a.rdc"));
  DeleteMap(folder.File("b.rst"));
  EXPECT_EQ(std::set<std::string>{"c.txt"}, testsupport::FolderNames(folder.Path()));
}

}  // namespace
