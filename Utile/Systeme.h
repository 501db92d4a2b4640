// The user name and the memory, as the operating system reports them.
#pragma once

#include <string>

#include "Utile/CommonDecl.h"

namespace utile {

// The login name of the user running the process ("" when unknown).
std::string GetUserName();
// The memory the process can still be given (utile::FreeMemory: the physical
// memory available, within the limits of its control group and address space)
// and the total physical memory, in bytes.
Int64 GetFreeMemory();
Int64 GetTotalMemory();

}  // namespace utile
