// A process's memory as the system would tell it, made up in a folder of the
// test's own and put in force for its lifetime: the physical memory, the
// control group that holds the process (unified hierarchy) and its address-space
// limit. Readers and planners then see that much room and no more.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport/StatisticalChecks.h"
#include "Utile/Platform.h"

namespace testsupport {

// Writes text into the file of that path under root, making its folders.
inline void WriteSystemFile(const std::string& root, const std::string& path, const std::string& text) {
  const std::filesystem::path file = std::filesystem::path(root) / path;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

class tFakeMemory {
 public:
  static constexpr uint64_t GiB = uint64_t{1} << 30;

  // Room bytes left in the process's control group (limit less usage), 64 GiB
  // of physical memory of which 32 GiB are available, and no address-space limit.
  explicit tFakeMemory(uint64_t room) {
    WriteSystemFile(fRoot.Path(), "proc/meminfo",
                    "MemTotal:       67108864 kB\nMemFree:         1000 kB\nMemAvailable:   33554432 kB\n");
    WriteSystemFile(fRoot.Path(), "proc/self/cgroup", "0::/test.slice\n");
    WriteSystemFile(fRoot.Path(), "sys/fs/cgroup/test.slice/memory.max", std::to_string(room + GiB) + "\n");
    WriteSystemFile(fRoot.Path(), "sys/fs/cgroup/test.slice/memory.current", std::to_string(GiB) + "\n");
    utile::SetMemorySources({fRoot.Path(), utile::NoMemoryLimit});
  }
  ~tFakeMemory() { utile::SetMemorySources(); }
  tFakeMemory(const tFakeMemory&) = delete;
  tFakeMemory& operator=(const tFakeMemory&) = delete;

 private:
  tTempFolder fRoot;
};

}  // namespace testsupport
