// Vandrel's windows share the services of both programs' windows (the
// application that shows stray errors, the message pump, the hour-glass and the
// dialog seam); they are reachable here under their usual names.
#pragma once

#include "Utile/gui/WindowServices.h"

namespace vandrel {

using utile::gui::DialogFilter;
using utile::gui::Dialogs;
using utile::gui::Guarded;
using utile::gui::InstallMessagePump;
using utile::gui::MessagePumpDepth;
using utile::gui::SetDialogs;
using utile::gui::SetFileExistsQuestion;
using utile::gui::tApplication;
using utile::gui::tDialogResult;
using utile::gui::tHourGlass;
using utile::gui::tMessageKind;
using utile::gui::tUserDialogs;
using utile::gui::WithDefaultExtension;

}  // namespace vandrel
