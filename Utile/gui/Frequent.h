// The key filters that two workbench windows take from a smaller unit of their
// own; they behave as those of StringOps.
#pragma once

#include "Utile/gui/StringOps.h"

namespace utile::gui::Frequent {

using utile::gui::EditReal;
using utile::gui::EditRealList;

}  // namespace utile::gui::Frequent
