// The start of the map-file manager: its toolkit behaviours and generator, then
// its windows in their order of creation.
#pragma once

namespace kelvora {

class TdlgKelvora;

// Selects the map-file manager's toolkit behaviours, before anything else, and
// starts the generator as that toolkit's start-up does.
void InitialiseToolkit();

// The main window, then the about box and the help window, which it owns.
TdlgKelvora* CreateKelvoraWindows();

// The main window made by CreateKelvoraWindows (nullptr before).
extern TdlgKelvora* dlgKelvora;

}  // namespace kelvora
