#include <gtest/gtest.h>

#include <chrono>

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

TEST(Platform, SystemQueries) {
  const utile::tMemoryStatus memory = utile::PlatformMemoryStatus();
  EXPECT_GT(memory.TotalPhysical, 0u);
  EXPECT_LE(memory.AvailablePhysical, memory.TotalPhysical);
  const std::string folder = utile::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder.back());
  EXPECT_FALSE(utile::StartProgram("/nonexistent/program-that-is-not-there"));
}

}  // namespace
