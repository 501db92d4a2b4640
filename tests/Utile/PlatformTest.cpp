#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "TestSupport/Emulation.h"
#include "Utile/Platform.h"

namespace {

int gPumps = 0;
std::chrono::steady_clock::time_point gPumpTimes[2];

void CountingPump() {
  if (gPumps < 2) gPumpTimes[gPumps] = std::chrono::steady_clock::now();
  ++gPumps;
}

struct tPumpGuard {
  ~tPumpGuard() { utile::SetMessagePump(nullptr); }
};

TEST(Platform, MessagesAreLetThroughOnlyAfterTheInterval) {
  tPumpGuard guard;
  gPumps = 0;
  utile::ProcessMessages();  // nothing installed: nothing happens
  utile::SetMessagePump(&CountingPump);
  utile::ProcessMessages();  // a freshly installed pump runs at the first call
  ASSERT_EQ(1, gPumps);
  // Calls in quick succession return at once until about 20 ms have passed.
  const auto start = std::chrono::steady_clock::now();
  while (gPumps < 2 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    utile::ProcessMessages();
  ASSERT_EQ(2, gPumps);
  // The coarse clock ticks in a few milliseconds at most.
  EXPECT_GE(gPumpTimes[1] - gPumpTimes[0], std::chrono::milliseconds(10));
  // ProcessMessagesNow pumps whatever the time, and restarts the interval.
  utile::ProcessMessagesNow();
  EXPECT_EQ(3, gPumps);
  utile::SetMessagePump(nullptr);
  utile::ProcessMessagesNow();
  EXPECT_EQ(3, gPumps);
}

// Preparing memory for writing leaves what it holds alone, whether the range
// covers whole pages, part of one, or nothing.
TEST(Platform, MemoryPreparedForWritingKeepsItsContents) {
  std::vector<unsigned char> memory(5 * 4096 + 123);
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<unsigned char>(i * 31 + 7);
  const std::vector<unsigned char> before = memory;
  struct tRange {
    size_t First, Bytes;
  };
  for (const tRange r : {tRange{0, memory.size()}, tRange{17, 4000}, tRange{3, 3 * 4096}, tRange{100, 0}}) {
    utile::PrepareForWriting(memory.data() + r.First, r.Bytes);
    EXPECT_EQ(memory, before) << r.First << " + " << r.Bytes;
  }
  // Fresh memory made present can be written at once.
  std::vector<double> fresh;
  fresh.reserve(100000);
  utile::PrepareForWriting(fresh.data(), 100000 * sizeof(double));
  fresh.assign(100000, 2.5);
  EXPECT_EQ(fresh[99999], 2.5);
}

TEST(Platform, SystemQueries) {
  const utile::tMemoryStatus memory = utile::PlatformMemoryStatus();
  EXPECT_GT(memory.TotalPhysical, 0u);
  EXPECT_LE(memory.AvailablePhysical, memory.TotalPhysical);
  const std::string folder = utile::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder.back());
  if (testsupport::UnderUserEmulator()) GTEST_SKIP() << testsupport::UserEmulatorSkipReason();
  EXPECT_FALSE(utile::StartProgram("/nonexistent/program-that-is-not-there"));
}

}  // namespace
