#include "mapfiles/Kelvora.h"

#include "Utile/RandomFunctions.h"
#include "Utile/ToolkitVariant.h"
#include "mapfiles/KelvoraAboutBox.h"
#include "mapfiles/KelvoraHelp.h"
#include "mapfiles/dlgKelvoraU.h"

namespace kelvora {

TdlgKelvora* dlgKelvora = nullptr;

void InitialiseToolkit() {
  utile::SetToolkitVariant(utile::tToolkitVariant::tvMapFileManager);
  utile::SetSeeds(20, 3);
}

TdlgKelvora* CreateKelvoraWindows() {
  dlgKelvora = new TdlgKelvora;
  fKelvoraAboutBox = new TfKelvoraAboutBox(dlgKelvora);
  fKelvoraHelp = new TfKelvoraHelp(dlgKelvora);
  return dlgKelvora;
}

}  // namespace kelvora
