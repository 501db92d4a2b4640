// The about box of the map-file manager, with the version the executable carries.
#pragma once

#include "Utile/gui/AboutDialog.h"
#include <cstdint>
#include <string>


namespace kelvora {

// The fixed file version: major and minor in the high and low 16 bits of the
// most significant word, release and build in those of the least significant one.
struct tFileVersion {
  uint32_t MS = 0;
  uint32_t LS = 0;
};

// The version the executable was built with.
tFileVersion ExecutableFileVersion();
// "major.minor.release.build".
std::string VersionText(const tFileVersion& version);
// The executable's version text, as the about box shows it.
extern std::string KelvoraVersion;

class TfKelvoraAboutBox : public utile::gui::tAboutDialog {
  Q_OBJECT
 public:
  explicit TfKelvoraAboutBox(QWidget* parent = nullptr);
  ~TfKelvoraAboutBox() override;


 private:
  void FormCreate();
};

// The about box made at start-up (nullptr before).
extern TfKelvoraAboutBox* fKelvoraAboutBox;

}  // namespace kelvora
