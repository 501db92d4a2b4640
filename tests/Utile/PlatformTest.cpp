#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport/Emulation.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/Measurement.h"
#include "Utile/Platform.h"

namespace {

int gPumps = 0;

void CountingPump() { ++gPumps; }

struct tPumpGuard {
  ~tPumpGuard() {
    utile::SetMessagePumpInterval(utile::MessagePumpIntervalNanoseconds);
    utile::SetMessagePump(nullptr);
  }
};

int64_t Coarse() { return utile::platform_detail::CoarseNanoseconds(); }

TEST(Platform, MessagesAreLetThroughOnlyAfterTheInterval) {
  tPumpGuard guard;
  gPumps = 0;
  utile::ProcessMessages();  // nothing installed: nothing happens
  utile::SetMessagePump(&CountingPump);
  EXPECT_EQ(&CountingPump, utile::MessagePump());
  // A freshly installed pump runs at the first call; the time it took it at lies
  // between the clock's readings on either side.
  const int64_t firstBefore = Coarse();
  utile::ProcessMessages();
  const int64_t firstAfter = Coarse();
  ASSERT_EQ(1, gPumps);
  // Calls return at once until the interval has passed on the clock the pump
  // reads, and the first call after it pumps, however coarse that clock.
  const int64_t interval = utile::MessagePumpIntervalNanoseconds;
  int64_t calls = 0;
  for (;;) {
    const int64_t before = Coarse();
    utile::ProcessMessages();
    const int64_t after = Coarse();
    ++calls;
    if (gPumps == 2) {
      EXPECT_GE(after, firstBefore + interval) << "after " << calls << " calls";
      break;
    }
    ASSERT_LT(before, firstAfter + interval) << "a call after the interval did not pump";
  }
  // ProcessMessagesNow pumps whatever the time, and restarts the interval.
  utile::ProcessMessagesNow();
  EXPECT_EQ(3, gPumps);
  // Without an interval every call pumps.
  utile::SetMessagePumpInterval(0);
  for (int k = 0; k < 5; ++k) utile::ProcessMessages();
  EXPECT_EQ(8, gPumps);
  utile::SetMessagePumpInterval(interval);
  utile::ProcessMessages();  // the first call after a change pumps
  EXPECT_EQ(9, gPumps);
  utile::SetMessagePump(nullptr);
  EXPECT_EQ(nullptr, utile::MessagePump());
  utile::ProcessMessagesNow();
  EXPECT_EQ(9, gPumps);
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

// ------------------------------------------------------------------ the process's own memory

constexpr double Megabyte = 1024.0 * 1024.0;

double ResidentMegabytes() {
  return static_cast<double>(utile::ResidentMemory()) / Megabyte;
}

// The resident memory is the process's own: what the system reports for it, up
// by what it writes, down by what it unmaps.
TEST(PlatformMemory, ResidentMemoryFollowsWhatTheProcessHolds) {
  EXPECT_NEAR(ResidentMegabytes(), testsupport::ResidentMB("VmRSS:"), 2.0);
  const double before = ResidentMegabytes();
  // Far above any size the allocator serves from its heap: a mapping of its own.
  auto block = std::make_unique<std::vector<char>>(size_t(96) << 20, 'x');
  const double written = ResidentMegabytes();
  EXPECT_GE(written - before, 90.0);
  block.reset();
  // The sanitizers' allocator keeps what is freed in quarantine.
  if (!testsupport::UnderSanitizers) {
    EXPECT_LE(ResidentMegabytes(), written - 90.0);
  }
}

}  // namespace

// ------------------------------------------------------------ the memory limit

// The room a process is left, from the system's files as a test writes them:
// the lowest of the machine, its control groups and its address space.
TEST(PlatformMemoryLimit, TheLowestOfTheMachineTheGroupsAndTheAddressSpace) {
  constexpr uint64_t MiB = uint64_t{1} << 20, GiB = uint64_t{1} << 30;
  const std::string meminfo = "MemTotal: 16777216 kB\nMemFree: 524288 kB\nMemAvailable: 8388608 kB\n";
  const std::string statm =
      std::to_string(GiB / static_cast<uint64_t>(sysconf(_SC_PAGESIZE))) + " 2000 300\n";
  using tFiles = std::vector<std::pair<std::string, std::string>>;
  const std::string v2 = "sys/fs/cgroup/user.slice/", v1 = "sys/fs/cgroup/memory/";
  // clang-format off
  const struct {
    const char* Name;
    tFiles Files;
    uint64_t AddressSpaceLimit, Free;
  } cases[] = {
      {"the machine alone", {{"proc/meminfo", meminfo}}, utile::NoMemoryLimit, 8 * GiB},
      {"an older kernel: free and caches", {{"proc/meminfo",
        "MemTotal: 16777216 kB\nMemFree: 1048576 kB\nBuffers: 524288 kB\nCached: 2097152 kB\n"}},
       utile::NoMemoryLimit, 3584 * MiB},
      {"unified group, its inactive file cache free",
       {{"proc/meminfo", meminfo}, {"proc/self/cgroup", "0::/user.slice/app.scope\n"},
        {v2 + "app.scope/memory.max", "1073741824\n"}, {v2 + "app.scope/memory.current", "536870912\n"},
        {v2 + "app.scope/memory.stat", "anon 3\nactive_file 65536\ninactive_file 134217728\n"}},
       utile::NoMemoryLimit, 640 * MiB},
      {"a group without a limit under one with a limit",
       {{"proc/meminfo", meminfo}, {"proc/self/cgroup", "0::/user.slice/app.scope\n"},
        {v2 + "app.scope/memory.max", "max\n"}, {v2 + "app.scope/memory.current", "100\n"},
        {v2 + "memory.max", "2147483648\n"}, {v2 + "memory.current", "1610612736\n"}},
       utile::NoMemoryLimit, 512 * MiB},
      {"a group beyond its limit",
       {{"proc/meminfo", meminfo}, {"proc/self/cgroup", "0::/\n"},
        {"sys/fs/cgroup/memory.max", "1000\n"}, {"sys/fs/cgroup/memory.current", "5000\n"}},
       utile::NoMemoryLimit, 0},
      {"older hierarchy in a container: the host's path is not there",
       {{"proc/meminfo", meminfo},
        {"proc/self/cgroup", "9:name=systemd:/docker/abc\n4:memory:/docker/abc\n0::/\n"},
        {v1 + "memory.limit_in_bytes", "268435456\n"}, {v1 + "memory.usage_in_bytes", "104857600\n"},
        {v1 + "memory.stat", "inactive_file 1048576\ntotal_inactive_file 20971520\n"}},
       utile::NoMemoryLimit, 176 * MiB},
      {"older hierarchy, memory beside other controllers, the top unlimited",
       {{"proc/meminfo", meminfo}, {"proc/self/cgroup", "5:cpu,memory:/batch\n"},
        {v1 + "batch/memory.limit_in_bytes", "3221225472\n"},
        {v1 + "batch/memory.usage_in_bytes", "1073741824\n"},
        {v1 + "memory.limit_in_bytes", "9223372036854771712\n"},
        {v1 + "memory.usage_in_bytes", "10000000000\n"}},
       utile::NoMemoryLimit, 2 * GiB},
      {"address space limited", {{"proc/meminfo", meminfo}, {"proc/self/statm", statm}}, 3 * GiB, 2 * GiB},
      {"all three, the group lowest",
       {{"proc/meminfo", meminfo}, {"proc/self/statm", statm}, {"proc/self/cgroup", "0::/\n"},
        {"sys/fs/cgroup/memory.max", "1073741824\n"}, {"sys/fs/cgroup/memory.current", "805306368\n"}},
       2 * GiB, 256 * MiB},
  };
  // clang-format on
  for (const auto& c : cases) {
    const testsupport::tTempFolder root;
    for (const auto& [path, text] : c.Files) testsupport::WriteSystemFile(root.Path(), path, text);
    EXPECT_EQ(utile::ReadMemoryStatus({root.Path(), c.AddressSpaceLimit}).Free(), c.Free) << c.Name;
  }
}
