#include "mapfiles/KelvoraAboutBox.h"

#include <QLabel>

#include "Utile/RunTime.h"

namespace kelvora {

std::string KelvoraVersion;
TfKelvoraAboutBox* fKelvoraAboutBox = nullptr;

tFileVersion ExecutableFileVersion() {
  tFileVersion version;
  version.MS = (uint32_t(KELVORA_VERSION_MAJOR) << 16) | uint32_t(KELVORA_VERSION_MINOR);
  version.LS = (uint32_t(KELVORA_VERSION_RELEASE) << 16) | uint32_t(KELVORA_VERSION_BUILD);
  return version;
}

std::string VersionText(const tFileVersion& version) {
  return utile::Format("%d.%d.%d.%d", version.MS >> 16, version.MS & 0xFFFF, version.LS >> 16, version.LS & 0xFFFF);
}

TfKelvoraAboutBox::TfKelvoraAboutBox(QWidget* parent)
    : tAboutDialog(QStyle::SP_DirIcon, "Kelvora", "", "Raster map file manager",
                   "Browses folders of Idrisi raster maps, shows and edits their documentation, deletes and "
                   "renames them in batches, converts and modifies their cells, exports them and opens them in "
                   "the map viewer.",
                   parent) {
  setObjectName("fKelvoraAboutBox");
  setWindowTitle("About Kelvora");
  setModal(true);
  FormCreate();
}

TfKelvoraAboutBox::~TfKelvoraAboutBox() {
  if (fKelvoraAboutBox == this) fKelvoraAboutBox = nullptr;
}

void TfKelvoraAboutBox::FormCreate() {
  KelvoraVersion = VersionText(ExecutableFileVersion());
  Version->setText(QString::fromStdString("Version " + KelvoraVersion));
}

}  // namespace kelvora
