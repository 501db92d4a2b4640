#include <gtest/gtest.h>

#include "TestSupport/FakeMemory.h"
#include "Utile/Systeme.h"
#include "Utile/vxMaxMem.h"

using namespace utile;

namespace {

struct tRecorder {
  std::vector<Integer> Progress;
  int Before = 0, After = 0;

  void Attach(TvxMaxMem& m) {
    m.OnProgress = [this](TvxMaxMem&, Integer percent) { Progress.push_back(percent); };
    m.OnBeforeDefrag = [this](TvxMaxMem&) { ++Before; };
    m.OnAfterDefrag = [this](TvxMaxMem&) { ++After; };
  }
};

TEST(Systeme, UserAndMemoryFigures) {
  EXPECT_FALSE(GetUserName().empty());
  EXPECT_GT(GetTotalMemory(), Int64{1} << 27);
  EXPECT_GT(GetFreeMemory(), 0);
  EXPECT_LE(GetFreeMemory(), GetTotalMemory());
  TvxMaxMem m;
  EXPECT_EQ(m.TotalMemory(), GetTotalMemory());  // 64-bit: no wrap-around above 2 GB
  EXPECT_GT(m.FreeMemory(), 0);
}

TEST(VxMaxMem, ProgressReachesOneHundred) {
  struct {
    Int64 Megabytes;
    std::vector<Integer> First, Last;
    size_t Steps;
  } const cases[] = {
      {2, {25, 50, 75, 100}, {100}, 4},
      {1, {50, 100}, {100}, 2},
      {2000, {0, 0, 0}, {100}, 2048},  // 1024 blocks, counted over both phases
      {0, {}, {}, 0},
  };
  for (const auto& c : cases) {
    TvxMaxMem m;
    tRecorder r;
    r.Attach(m);
    m.DefragMemory(c.Megabytes);
    ASSERT_EQ(r.Progress.size(), c.Steps) << c.Megabytes;
    for (size_t i = 0; i < c.First.size(); ++i) EXPECT_EQ(r.Progress[i], c.First[i]);
    if (!c.Last.empty()) {
      EXPECT_EQ(r.Progress.back(), c.Last.back());
    }
    EXPECT_TRUE(std::is_sorted(r.Progress.begin(), r.Progress.end()));
    EXPECT_EQ(r.Before, 1);
    EXPECT_EQ(r.After, 1);
    EXPECT_FALSE(m.Working());
  }
}

TEST(VxMaxMem, AbortStopsAfterTheCurrentBlock) {
  for (Integer stopAt : {1, 3, 5}) {  // in the commit phase, then in the release phase
    TvxMaxMem m;
    tRecorder r;
    r.Attach(m);
    m.OnProgress = [&](TvxMaxMem& sender, Integer percent) {
      r.Progress.push_back(percent);
      if (static_cast<Integer>(r.Progress.size()) == stopAt) sender.Abort();
    };
    m.DefragMemory(3);
    EXPECT_EQ(r.Progress.size(), static_cast<size_t>(stopAt));
    EXPECT_EQ(r.After, 1);
    EXPECT_FALSE(m.Working());
  }
}

TEST(VxMaxMem, ReentrantCallKeepsAPendingAbort) {
  TvxMaxMem m;
  tRecorder r;
  r.Attach(m);
  int nestedBefore = 0;
  m.OnProgress = [&](TvxMaxMem& sender, Integer percent) {
    r.Progress.push_back(percent);
    if (r.Progress.size() == 1) {
      sender.Abort();
      const int before = r.Before;
      sender.DefragMemory(4);  // returns at once: a run is in progress
      nestedBefore = r.Before - before;
    }
  };
  m.DefragMemory(4);
  EXPECT_EQ(nestedBefore, 0);
  EXPECT_EQ(r.Progress.size(), 1u);  // the abort still stopped the run
  EXPECT_EQ(r.After, 1);

  // After the run, a new one starts afresh.
  m.OnProgress = [&](TvxMaxMem&, Integer percent) { r.Progress.push_back(percent); };
  r.Progress.clear();
  m.DefragMemory(1);
  EXPECT_EQ(r.Progress, (std::vector<Integer>{50, 100}));
}

TEST(VxMaxMem, FailingHandlerLeavesNoRunBehind) {
  TvxMaxMem m;
  m.OnProgress = [](TvxMaxMem&, Integer percent) {
    if (percent > 50) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(m.DefragMemory(2), std::runtime_error);
  EXPECT_FALSE(m.Working());
}

// Within a control group's limit a block beyond its room would have the process
// killed: no more blocks are taken than the limits leave, and the progress still
// ends at 100. Beyond the physical memory available they are taken all the same:
// the system moves other pages out, which is what the run is for.
TEST(VxMaxMem, NoMoreBlocksThanTheProcessCanBeGiven) {
  struct {
    uint64_t Room;
    Int64 Megabytes;
    std::vector<Integer> Progress;
  } const cases[] = {
      {3 * TvxMaxMem::BlockSize + 1000, 10, {17, 33, 50, 67, 83, 100}},
      {TvxMaxMem::BlockSize, 2000, {50, 100}},
      {TvxMaxMem::BlockSize - 1, 5, {}},
      {8 * TvxMaxMem::BlockSize, 2, {25, 50, 75, 100}},
  };
  for (const auto& c : cases) {
    const testsupport::tFakeMemory memory(c.Room);
    TvxMaxMem m;
    tRecorder r;
    r.Attach(m);
    EXPECT_EQ(m.FreeMemory(), static_cast<Int64>(c.Room));
    m.DefragMemory(c.Megabytes);
    EXPECT_EQ(r.Progress, c.Progress) << c.Room;
    EXPECT_EQ(r.Before, 1);
    EXPECT_EQ(r.After, 1);
    EXPECT_FALSE(m.Working());
  }
  // 1 MB available of 8 MB, no limit.
  const testsupport::tTempFolder root;
  testsupport::WriteSystemFile(root.Path(), "proc/meminfo", "MemTotal: 8192 kB\nMemAvailable: 1024 kB\n");
  SetMemorySources({root.Path(), NoMemoryLimit});
  struct tSourcesGuard {
    ~tSourcesGuard() { SetMemorySources(); }
  } guard;
  TvxMaxMem m;
  tRecorder r;
  r.Attach(m);
  EXPECT_EQ(m.FreeMemory(), TvxMaxMem::BlockSize);
  m.DefragMemory(3);
  EXPECT_EQ(r.Progress, (std::vector<Integer>{17, 33, 50, 67, 83, 100}));
}

}  // namespace
