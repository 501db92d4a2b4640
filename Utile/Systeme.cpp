#include "Utile/Systeme.h"

#include <algorithm>
#include <limits>

#include "Utile/Platform.h"

namespace utile {

std::string GetUserName() {
  return PlatformUserName();
}
Int64 GetFreeMemory() {
  return static_cast<Int64>(std::min<uint64_t>(FreeMemory(), std::numeric_limits<Int64>::max()));
}
Int64 GetTotalMemory() {
  return static_cast<Int64>(PlatformMemoryStatus().TotalPhysical);
}

}  // namespace utile
