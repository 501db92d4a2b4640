#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "TestSupport/FakeMemory.h"
#include "Utile/Platform.h"
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
  // The name of the account the process runs as, where the system knows one (a
  // process may run under a bare number, in a container).
  if (const passwd* account = getpwuid(geteuid())) {
    EXPECT_EQ(std::string(account->pw_name), GetUserName());
  }
  EXPECT_EQ(PlatformUserName(), GetUserName());
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

// Beyond a control group's limit a block would have the process killed: no more
// blocks than the limits leave, the progress still ending at 100. Beyond the
// physical memory available (1 MB of 8 MB, no limit) they are taken all the same:
// the system moves other pages out, which is what the run is for.
TEST(VxMaxMem, NoMoreBlocksThanTheLimitsLeave) {
  const auto progress = [](Int64 megabytes) {
    TvxMaxMem m;
    tRecorder r;
    r.Attach(m);
    m.DefragMemory(megabytes);
    EXPECT_EQ(r.Before + r.After, 2);
    return r.Progress;
  };
  const std::vector<Integer> threeBlocks = {17, 33, 50, 67, 83, 100};
  {
    const testsupport::tFakeMemory memory(3 * TvxMaxMem::BlockSize + 1000);
    EXPECT_EQ(progress(10), threeBlocks);
  }
  {
    const testsupport::tFakeMemory memory(TvxMaxMem::BlockSize - 1);
    EXPECT_EQ(progress(5), std::vector<Integer>{});
  }
  const testsupport::tTempFolder machine;
  testsupport::WriteSystemFile(machine.Path(), "proc/meminfo", "MemTotal: 8192 kB\nMemAvailable: 1024 kB\n");
  SetMemorySources({machine.Path(), NoMemoryLimit});
  const std::vector<Integer> unlimited = progress(3);
  SetMemorySources();
  EXPECT_EQ(unlimited, threeBlocks);
}

}  // namespace
