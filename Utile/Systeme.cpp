#include "Utile/Systeme.h"

#include "Utile/Platform.h"

namespace utile {

std::string GetUserName() {
  return PlatformUserName();
}
Int64 GetFreeMemory() {
  return static_cast<Int64>(PlatformMemoryStatus().AvailablePhysical);
}
Int64 GetTotalMemory() {
  return static_cast<Int64>(PlatformMemoryStatus().TotalPhysical);
}

}  // namespace utile
