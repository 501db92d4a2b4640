// Time and memory in tests. Timing assertions compare against a baseline
// measured in the same run, with generous margins; under the sanitizers, which
// slow everything several times and unevenly, ratio checks are relaxed or left
// out (UnderSanitizers).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool UnderSanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool UnderSanitizers = true;
#else
inline constexpr bool UnderSanitizers = false;
#endif
#else
inline constexpr bool UnderSanitizers = false;
#endif

// The processor time of this thread, in seconds: what other processes take of the
// machine is not counted.
inline double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The shortest of `runs` runs of action, in seconds of this thread's processor
// time: the least disturbed by the other work of the machine.
template <class tAction>
double BestSeconds(tAction&& action, int runs = 3) {
  double best = std::numeric_limits<double>::infinity();
  for (int k = 0; k < runs; ++k) {
    const double start = ThreadSeconds();
    action();
    best = std::min(best, ThreadSeconds() - start);
  }
  return best;
}

// The process's resident memory in MB, now ("VmRSS:") or at its peak ("VmHWM:").
inline double ResidentMB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::string(key).size())) / 1024;
  return 0;
}

// Starts the peak of resident memory ("VmHWM:") again from the memory in use now.
inline void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The peak of resident memory from its construction on, above what the process
// held then.
class tPeakMemory {
 public:
  tPeakMemory() {
    ResetPeakMemory();
    fStart = ResidentMB("VmRSS:");
  }
  double AddedMB() const { return ResidentMB("VmHWM:") - fStart; }

 private:
  double fStart = 0;
};

// The allocator as a windowed program leaves it (glibc): once a block of tens of
// megabytes has been freed (a picture of a window, say), blocks below that size
// come from the heap rather than from mappings of their own, and stay with the
// allocator when they are freed. A block taken later, above them, as the windows
// take while a run goes on, keeps the heap from shrinking back by itself.
class tHeapAsWindowsLeaveIt {
 public:
  tHeapAsWindowsLeaveIt() {
    void* volatile picture = std::malloc(size_t(30) << 20);
    std::free(picture);
  }
  void TakeBlockAbove() { fBlocks.push_back(std::make_unique<char[]>(size_t(1) << 20)); }

 private:
  std::vector<std::unique_ptr<char[]>> fBlocks;
};

}  // namespace testsupport
