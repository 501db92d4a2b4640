#include "Utile/vxMaxMem.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/Systeme.h"

namespace utile {

TvxMaxMem::TvxMaxMem() : FTotalMemory(GetTotalMemory()) {}

Int64 TvxMaxMem::GetFreeMemory() const {
  return utile::GetFreeMemory();
}

void TvxMaxMem::DefragAll() {
  DefragMemory(FTotalMemory / BlockSize);
}

void TvxMaxMem::DefragMemory(Int64 megabytes) {
  // A call from an event of the running pass must leave its abort request alone.
  if (FWorking) return;
  FAbort = false;
  FWorking = true;
  // Within the limits of the process's control group and address space: a block
  // beyond them would have it killed, or fail, rather than make room. Beyond the
  // physical memory available the system moves other pages out, as meant.
  const uint64_t limitRoom = PlatformMemoryStatus().LimitRoom();
  const Int64 room = static_cast<Int64>(std::min<uint64_t>(limitRoom / BlockSize, MaxBlocks));
  const Int64 blocks = std::clamp<Int64>(megabytes, 0, room);
  // Both phases count, so that the progress ends at 100.
  Int64 totalSteps = 2 * blocks, done = 0;
  std::vector<void*> held;
  held.reserve(static_cast<size_t>(blocks));
  auto releaseHeld = [&] {
    for (void* block : held)
      if (block != nullptr) munmap(block, BlockSize);
    held.clear();
  };
  auto progress = [&] {
    ++done;
    if (OnProgress)
      OnProgress(*this, static_cast<Integer>(Round(static_cast<long double>(done) / totalSteps * 100)));
  };
  auto finish = [&] {
    releaseHeld();
    FWorking = false;
    if (OnAfterDefrag) OnAfterDefrag(*this);
  };
  try {
    if (OnBeforeDefrag) OnBeforeDefrag(*this);
    for (Int64 b = 0; b < blocks; ++b) {
      void* block = mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (block == MAP_FAILED) {
        // No more memory to be had: release what was got, and count only that.
        totalSteps = 2 * static_cast<Int64>(held.size());
        break;
      }
      held.push_back(block);
      std::memset(block, 0, BlockSize);
      progress();
      if (FAbort) return finish();
    }
    for (size_t b = 0; b < held.size(); ++b) {
      munmap(held[b], BlockSize);
      held[b] = nullptr;
      progress();
      if (FAbort) {
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(b) + 1);
        return finish();
      }
    }
    held.clear();
    finish();
  } catch (...) {
    // An event handler failed: the memory and the state are restored all the same.
    releaseHeld();
    FWorking = false;
    throw;
  }
}

}  // namespace utile
