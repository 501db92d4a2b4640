// What the programs need of the operating system: the message-pump hook through
// which long computations keep the windows alive, the user name, physical memory,
// the program's own folder, starting another program, and the memory the process
// holds and gives back.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace utile {

using tMessagePump = void (*)();

namespace platform_detail {
extern tMessagePump gPump;
extern int64_t gNextPumpNanoseconds;
void PumpNow(int64_t nowNanoseconds);

inline int64_t CoarseNanoseconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
}  // namespace platform_detail

// How often pending window messages are let through during a computation.
constexpr int64_t MessagePumpIntervalNanoseconds = 20'000'000;

// Installs the function that lets pending window messages through (nullptr: none).
void SetMessagePump(tMessagePump pump);
// The function installed (nullptr: none).
tMessagePump MessagePump();
// The least time between two passes of the pump, MessagePumpIntervalNanoseconds
// unless set; 0 runs it at every call of ProcessMessages (a test that acts at a
// given point of a computation, however fast the machine, or counts the calls).
void SetMessagePumpInterval(int64_t nanoseconds);

// Lets pending window messages through when about 20 ms (the interval) have
// passed since the last time; otherwise returns at once. Cheap enough to call
// once per individual.
inline void ProcessMessages() {
  if (platform_detail::gPump == nullptr) return;
  const int64_t now = platform_detail::CoarseNanoseconds();
  if (now >= platform_detail::gNextPumpNanoseconds) [[unlikely]]
    platform_detail::PumpNow(now);
}

// Lets pending messages through at once, whatever the time (after a long step).
void ProcessMessagesNow();

// Marks the upper halves of the wide vector registers unused (x86 with AVX; a
// no-op elsewhere). Code of the window libraries that leaves them in use makes
// every later scalar floating-point instruction many times slower (a 16-fold
// slower exp) until this is done; every message pump ends with it.
void ClearUpperVectorState();

// Makes the pages of fresh memory present for writing in one request instead of
// one fault per page, where the system offers it; otherwise nothing. The memory
// is left as it was.
void PrepareForWriting(void* address, size_t bytes);

// The login name of the user running the process ("" when unknown).
std::string PlatformUserName();

struct tMemoryStatus {
  uint64_t TotalPhysical = 0;      // bytes
  uint64_t AvailablePhysical = 0;  // bytes
};
tMemoryStatus PlatformMemoryStatus();
// Whether the machine can give that many bytes more now: no more than the
// physical memory available (any amount where the system does not tell).
bool MemoryAvailable(uint64_t bytes);

// The folder of the running executable, with a trailing delimiter.
std::string ExecutableFolder();

enum class tStartResult {
  srStarted,
  srNotFound,     // no such program, or a file that cannot be run
  srNoResources,  // the system lacks the memory or the processes to start it
};

// Starts a program with its arguments, each passed as one word whatever blanks
// it holds, and does not wait for it.
tStartResult StartDetached(const std::string& program, const std::vector<std::string>& arguments);

// Starts a program with its arguments (empty ones left out) and does not wait
// for it. False when it could not be started.
bool StartProgram(const std::string& program, const std::string& argument1 = {},
                  const std::string& argument2 = {});

// ---------------------------------------------------------------- the process's own memory

// The memory of this process resident in physical memory, in bytes (0 where the
// system does not tell).
uint64_t ResidentMemory();

// Gives the memory freed so far back to the system. The allocator keeps freed
// blocks for its next requests; once the program has freed a block of tens of
// megabytes (a window's picture) it takes blocks of a few megabytes from its own
// heap too, so that a large structure made of such blocks stays resident after
// it is freed, until this is done. Where the allocator gives memory back by
// itself, nothing.
void ReleaseFreedMemory();
// ReleaseFreedMemory once a structure of that many bytes has been freed, when
// that is enough to be worth a walk over the allocator's memory.
void ReleaseAfterFreeing(uint64_t bytes);

}  // namespace utile
