#include "mapfiles/KelvoraAboutBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

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

TfKelvoraAboutBox::TfKelvoraAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("fKelvoraAboutBox");
  setWindowTitle("About Kelvora");
  setModal(true);
  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(48, 48));
  ProductName = new QLabel("<b>Kelvora</b>", this);
  ProductName->setObjectName("ProductName");
  Version = new QLabel(this);
  Version->setObjectName("Version");
  Copyright = new QLabel("Raster map file manager", this);
  Copyright->setObjectName("Copyright");
  Comments = new QLabel(
      "Browses folders of Idrisi raster maps, shows and edits their documentation, deletes and renames "
      "them in batches, converts and modifies their cells, exports them and opens them in the map viewer.",
      this);
  Comments->setObjectName("Comments");
  Comments->setWordWrap(true);
  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(ProgramIcon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  for (QLabel* label : {ProductName, Version, Copyright}) texts->addWidget(label);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Comments);
  layout->addWidget(OKButton, 0, Qt::AlignCenter);
  setMinimumWidth(360);
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
