#include "Utile/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pwd.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

extern char** environ;

namespace utile {

namespace platform_detail {
tMessagePump gPump = nullptr;
int64_t gNextPumpNanoseconds = 0;
int64_t gPumpIntervalNanoseconds = MessagePumpIntervalNanoseconds;

void PumpNow(int64_t nowNanoseconds) {
  gNextPumpNanoseconds = nowNanoseconds + gPumpIntervalNanoseconds;
  if (gPump) {
    gPump();
    // The windows' drawing leaves wide vector registers in use; the
    // computation that goes on would pay for it at every instruction.
    ClearUpperVectorState();
  }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void ZeroUpper() {
  _mm256_zeroupper();
}
#endif
}  // namespace platform_detail

void ClearUpperVectorState() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx) platform_detail::ZeroUpper();
#endif
}

void PrepareForWriting(void* address, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  // Only whole pages inside the range: a page shared with other data is left
  // to its first write.
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<uintptr_t>(address) + page - 1) / page * page;
  const auto last = (reinterpret_cast<uintptr_t>(address) + bytes) / page * page;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)address;
  (void)bytes;
#endif
}

void SetMessagePump(tMessagePump pump) {
  platform_detail::gPump = pump;
  platform_detail::gNextPumpNanoseconds = 0;
}

tMessagePump MessagePump() { return platform_detail::gPump; }

void SetMessagePumpInterval(int64_t nanoseconds) {
  platform_detail::gPumpIntervalNanoseconds = nanoseconds;
  platform_detail::gNextPumpNanoseconds = 0;
}

void ProcessMessagesNow() { platform_detail::PumpNow(platform_detail::CoarseNanoseconds()); }

std::string PlatformUserName() {
  if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name) return entry->pw_name;
  if (const char* name = std::getenv("USER")) return name;
  return {};
}

tMemoryStatus PlatformMemoryStatus() {
  tMemoryStatus status;
  std::ifstream meminfo("/proc/meminfo");
  std::string key, unit;
  uint64_t kilobytes;
  while (meminfo >> key >> kilobytes) {
    std::getline(meminfo, unit);
    if (key == "MemTotal:") status.TotalPhysical = kilobytes * 1024;
    if (key == "MemAvailable:") status.AvailablePhysical = kilobytes * 1024;
  }
  if (status.TotalPhysical == 0) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long available = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    status.TotalPhysical = static_cast<uint64_t>(pages) * pageSize;
    status.AvailablePhysical = static_cast<uint64_t>(available) * pageSize;
  }
  return status;
}

bool MemoryAvailable(uint64_t bytes) {
  const tMemoryStatus status = PlatformMemoryStatus();
  return status.AvailablePhysical == 0 || bytes <= status.AvailablePhysical;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "./";
  std::string path(buffer.data(), static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

namespace {
// How the intermediate child tells how the start went.
constexpr int StartedCode = 0;
constexpr int NotFoundCode = 126;
constexpr int NoResourcesCode = 127;

bool LacksResources(int error) { return error == ENOMEM || error == EAGAIN; }
}  // namespace

tStartResult StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // A program named with a folder is taken as it stands, a bare name is looked
  // for along the search path.
  const bool searchPath = program.find('/') == std::string::npos;
  // A double fork leaves the started program to init, so that no zombie is left
  // behind and nothing waits for it.
  const pid_t child = fork();
  if (child < 0) return LacksResources(errno) ? tStartResult::srNoResources : tStartResult::srNotFound;
  if (child == 0) {
    pid_t grandchild;
    const int rc = searchPath ? posix_spawnp(&grandchild, program.c_str(), nullptr, nullptr, argv.data(), environ)
                              : posix_spawn(&grandchild, program.c_str(), nullptr, nullptr, argv.data(), environ);
    _exit(rc == 0 ? StartedCode : LacksResources(rc) ? NoResourcesCode : NotFoundCode);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status)) return tStartResult::srNotFound;
  switch (WEXITSTATUS(status)) {
    case StartedCode:
      return tStartResult::srStarted;
    case NoResourcesCode:
      return tStartResult::srNoResources;
    default:
      return tStartResult::srNotFound;
  }
}

bool StartProgram(const std::string& program, const std::string& argument1, const std::string& argument2) {
  std::vector<std::string> arguments;
  if (!argument1.empty()) arguments.push_back(argument1);
  if (!argument2.empty()) arguments.push_back(argument2);
  return StartDetached(program, arguments) == tStartResult::srStarted;
}

// ---------------------------------------------------------------- the process's own memory

uint64_t ResidentMemory() {
  // The second field: the pages resident.
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

void ReleaseFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

void ReleaseAfterFreeing(uint64_t bytes) {
  // Below this the memory kept is small beside the program's own, and a batch of
  // small runs would walk the allocator's memory at every initialisation.
  constexpr uint64_t WorthReleasing = uint64_t(16) << 20;
  if (bytes >= WorthReleasing) ReleaseFreedMemory();
}

}  // namespace utile
