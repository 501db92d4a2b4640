// The two programs share the toolkit, but the map-file manager keeps a few older
// behaviours of it (its palette list, its default chart palette, some messages).
// Each program chooses its variant once at start-up, before any window is made;
// the units that differ ask here instead of keeping a copy of themselves.
#pragma once

namespace utile {

enum class tToolkitVariant { tvMainProgram, tvMapFileManager };

tToolkitVariant ToolkitVariant();
// Called by a program's entry before anything else; tests call it to try both.
void SetToolkitVariant(tToolkitVariant variant);

}  // namespace utile
