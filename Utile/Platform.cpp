#include "Utile/Platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pwd.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string_view>
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

namespace {
tMemorySources gMemorySources;

// A small file of the system whole ("" when there is none): those of /proc tell
// no size, so it is read to its end.
std::string SmallFileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return {};
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
    text.append(buffer, static_cast<size_t>(in.gcount()));
  return text;
}

// The decimal number at the start of text, blanks before it skipped.
std::optional<uint64_t> LeadingNumber(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + first, text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

// The number of the line that begins with the word key ("MemAvailable:" of
// meminfo, "inactive_file" of memory.stat).
std::optional<uint64_t> KeyedNumber(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    if (line.starts_with(key) && line.size() > key.size() &&
        (line[key.size()] == ' ' || line[key.size()] == '\t'))
      return LeadingNumber(line.substr(key.size()));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return std::nullopt;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (!name.starts_with('/')) path += '/';
  path += name;
  return path;
}

// The files of one kind of control group: the limit (a number, or "max" for
// none), the usage, and the key of the inactive file cache in memory.stat.
struct tGroupFiles {
  const char* Limit;
  const char* Usage;
  const char* InactiveFileKeys[2];
};
constexpr tGroupFiles UnifiedGroupFiles{"memory.max", "memory.current", {"inactive_file", nullptr}};
constexpr tGroupFiles MemoryGroupFiles{
    "memory.limit_in_bytes", "memory.usage_in_bytes", {"total_inactive_file", "inactive_file"}};

// The group that leaves the least room, walking from the process's group up to
// the top of the hierarchy. A folder that is not there is passed over: in a
// container the hierarchy's top is the container's own group, whatever path
// the host gives it.
void TightestGroup(const std::string& hierarchy, std::string_view path, const tGroupFiles& files,
                   tMemoryStatus& status) {
  std::string group(path);
  while (true) {
    const std::string folder = group == "/" ? hierarchy : JoinPath(hierarchy, group);
    if (const std::optional<uint64_t> limit = LeadingNumber(SmallFileText(JoinPath(folder, files.Limit)))) {
      uint64_t usage = LeadingNumber(SmallFileText(JoinPath(folder, files.Usage))).value_or(0);
      const std::string statistics = SmallFileText(JoinPath(folder, "memory.stat"));
      for (const char* key : files.InactiveFileKeys)
        if (key != nullptr)
          if (const std::optional<uint64_t> inactive = KeyedNumber(statistics, key)) {
            usage -= std::min(usage, *inactive);
            break;
          }
      const auto room = [](uint64_t limit, uint64_t usage) { return limit - std::min(limit, usage); };
      if (status.GroupLimit == NoMemoryLimit ||
          room(*limit, usage) < room(status.GroupLimit, status.GroupUsage)) {
        status.GroupLimit = *limit;
        status.GroupUsage = usage;
      }
    }
    if (group.empty() || group == "/") break;
    const size_t slash = group.find_last_of('/');
    group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
  }
}

void ReadGroups(const tMemorySources& sources, tMemoryStatus& status) {
  const std::string cgroups = SmallFileText(JoinPath(sources.Root, "proc/self/cgroup"));
  std::string_view text = cgroups;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    // "hierarchy:controllers:path"; the path may hold colons itself.
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty()) {
      TightestGroup(JoinPath(sources.Root, "sys/fs/cgroup"), path, UnifiedGroupFiles, status);
      continue;
    }
    for (std::string_view rest = controllers; !rest.empty();) {
      const size_t comma = std::min(rest.find(','), rest.size());
      if (rest.substr(0, comma) == "memory") {
        TightestGroup(JoinPath(sources.Root, "sys/fs/cgroup/memory"), path, MemoryGroupFiles, status);
        break;
      }
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
  }
}
}  // namespace

uint64_t tMemoryStatus::LimitRoom() const {
  uint64_t room = NoMemoryLimit;
  if (GroupLimit != NoMemoryLimit) room = GroupLimit - std::min(GroupLimit, GroupUsage);
  if (AddressSpaceLimit != NoMemoryLimit)
    room = std::min(room, AddressSpaceLimit - std::min(AddressSpaceLimit, AddressSpaceInUse));
  return room;
}

uint64_t tMemoryStatus::Free() const {
  return std::min(TotalPhysical == 0 ? NoMemoryLimit : AvailablePhysical, LimitRoom());
}

tMemoryStatus ReadMemoryStatus(const tMemorySources& sources) {
  tMemoryStatus status;
  const std::string meminfo = SmallFileText(JoinPath(sources.Root, "proc/meminfo"));
  constexpr uint64_t Kilobyte = 1024;
  status.TotalPhysical = KeyedNumber(meminfo, "MemTotal:").value_or(0) * Kilobyte;
  if (const std::optional<uint64_t> available = KeyedNumber(meminfo, "MemAvailable:")) {
    status.AvailablePhysical = *available * Kilobyte;
  } else if (const std::optional<uint64_t> free = KeyedNumber(meminfo, "MemFree:")) {
    // Kernels before 3.14 tell no estimate: the free memory and the caches it would take back.
    status.AvailablePhysical =
        (*free + KeyedNumber(meminfo, "Buffers:").value_or(0) + KeyedNumber(meminfo, "Cached:").value_or(0)) *
        Kilobyte;
  } else {
    status.AvailablePhysical = status.TotalPhysical;
  }
  if (status.TotalPhysical == 0 && sources.Root == "/") {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long available = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && available >= 0 && pageSize > 0) {
      status.TotalPhysical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
      status.AvailablePhysical = static_cast<uint64_t>(available) * static_cast<uint64_t>(pageSize);
    }
  }
  ReadGroups(sources, status);
  if (sources.AddressSpaceLimit) {
    status.AddressSpaceLimit = *sources.AddressSpaceLimit;
  } else if (rlimit limit{}; getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    status.AddressSpaceLimit = static_cast<uint64_t>(limit.rlim_cur);
  }
  if (status.AddressSpaceLimit != NoMemoryLimit) {
    // statm counts pages: its first field is the whole address space.
    const long pageSize = sysconf(_SC_PAGESIZE);
    status.AddressSpaceInUse =
        LeadingNumber(SmallFileText(JoinPath(sources.Root, "proc/self/statm"))).value_or(0) *
        static_cast<uint64_t>(pageSize > 0 ? pageSize : 4096);
  }
  return status;
}

void SetMemorySources(const tMemorySources& sources) {
  gMemorySources = sources;
}

tMemoryStatus PlatformMemoryStatus() {
  return ReadMemoryStatus(gMemorySources);
}

uint64_t FreeMemory() {
  return PlatformMemoryStatus().Free();
}

bool MemoryAvailable(uint64_t bytes) {
  return bytes <= FreeMemory();
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
