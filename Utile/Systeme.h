// The user name and the physical memory, as the operating system reports them.
#pragma once

#include <string>

#include "Utile/CommonDecl.h"

namespace utile {

// The login name of the user running the process ("" when unknown).
std::string GetUserName();
// Available and total physical memory, in bytes.
Int64 GetFreeMemory();
Int64 GetTotalMemory();

}  // namespace utile
