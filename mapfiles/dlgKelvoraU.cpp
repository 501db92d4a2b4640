#include "mapfiles/dlgKelvoraU.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSplitter>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <utility>

#include "Utile/ColorOps.h"
#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "Utile/gui/FormControls.h"
#include "Utile/gui/StringOps.h"
#include "Utile/gui/WindowServices.h"
#include "mapfiles/GraphMap.h"
#include "mapfiles/Kelvora.h"
#include "mapfiles/KelvoraAboutBox.h"
#include "mapfiles/KelvoraHelp.h"

namespace kelvora {

using utile::Format;
using utile::Integer;
using utile::gui::Dialogs;
using utile::gui::NewButton;
using utile::gui::NewCheckBox;
using utile::gui::NewEdit;
using utile::gui::NewGroupBox;
using utile::gui::NewLabel;
using utile::gui::NewMemo;
using utile::gui::NewRadioButton;
using utile::gui::NewTabPage;
using utile::gui::tMessageKind;

namespace {

const char* const TextFilesFilter = "|Text files (*.txt,*.log,*.dat)|*.txt;*.log;*.dat";
const char* const ReadyText = "Ready ";

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Documentation files come from systems of every age: text that is not UTF-8 is
// taken as Latin-1.
QString DecodeText(const std::string& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder(QByteArray::fromStdString(bytes));
  if (decoder.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.remove('\r');
  return text;
}

// A mask of the filter matches as on the platform the filters come from: "*.*"
// takes every file, letter case does not matter.
bool MatchesMask(const std::string& name, const std::vector<std::string>& masks) {
  for (const std::string& mask : masks) {
    if (mask == "*.*" || mask == "*") return true;
    if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

std::vector<std::string> SplitMasks(const std::string& masks) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start <= masks.size()) {
    size_t end = masks.find(';', start);
    if (end == std::string::npos) end = masks.size();
    const std::string mask = utile::Trim(masks.substr(start, end - start));
    if (!mask.empty()) result.push_back(mask);
    start = end + 1;
  }
  return result;
}

bool NameLess(const std::string& a, const std::string& b) {
  const std::string la = utile::LowerCase(a), lb = utile::LowerCase(b);
  return la != lb ? la < lb : a < b;
}

// The files (hidden ones left out) and the subfolders of a folder, each sorted by
// name, read from disk at once.
void ReadFolder(const std::string& folder, const std::vector<std::string>& masks, std::vector<std::string>* files,
                std::vector<std::string>* folders) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (folders) folders->push_back(name);
    } else if (files && it->is_regular_file(typeError) && MatchesMask(name, masks)) {
      files->push_back(name);
    }
  }
  if (files) std::sort(files->begin(), files->end(), NameLess);
  if (folders) std::sort(folders->begin(), folders->end(), NameLess);
}

// What identifies the content of a file for the preview: its name, time and size.
std::string FileStamp(const std::string& fileName) {
  struct stat status;
  if (::stat(fileName.c_str(), &status) != 0) return fileName + "|-";
  return Format("%s|%d.%d|%d", fileName, static_cast<int64_t>(status.st_mtim.tv_sec),
                static_cast<int64_t>(status.st_mtim.tv_nsec), static_cast<int64_t>(status.st_size));
}

}  // namespace

// ==================================================================== creation

TdlgKelvora::TdlgKelvora(QWidget* parent) : TCustomPalometDialog(parent) {
  setObjectName("dlgKelvora");
  setWindowTitle("Kelvora");
  BuildControls();
  FormCreate();
  ConnectControls();
}

TdlgKelvora::~TdlgKelvora() {
  if (dlgKelvora == this) dlgKelvora = nullptr;
}

void TdlgKelvora::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // ------------------------------------------------------------ map files
  auto* gbMapFiles = NewGroupBox(central, "gbMapFiles", "Map files");
  cbDrive = new QComboBox(gbMapFiles);
  cbDrive->setObjectName("cbDrive");
  cbDirectory = new QListWidget(gbMapFiles);
  cbDirectory->setObjectName("cbDirectory");
  cbMaps = new QListWidget(gbMapFiles);
  cbMaps->setObjectName("cbMaps");
  cbMaps->setSelectionMode(QAbstractItemView::ExtendedSelection);
  cbMaps->setUniformItemSizes(true);  // long lists lay out at once
  cbFilter = new QComboBox(gbMapFiles);
  cbFilter->setObjectName("cbFilter");
  auto* folderAndFiles = new QSplitter(Qt::Vertical, gbMapFiles);
  folderAndFiles->addWidget(cbDirectory);
  folderAndFiles->addWidget(cbMaps);
  folderAndFiles->setStretchFactor(0, 1);
  folderAndFiles->setStretchFactor(1, 2);
  auto* mapFilesLayout = new QVBoxLayout(gbMapFiles);
  mapFilesLayout->addWidget(cbDrive);
  mapFilesLayout->addWidget(folderAndFiles, 1);
  mapFilesLayout->addWidget(cbFilter);

  pcOperations = new QTabWidget(central);
  pcOperations->setObjectName("pcOperations");

  // ------------------------------------------------------------ file management
  tsFileManagement = NewTabPage(pcOperations, "tsFileManagement", "File management");
  btDelete = NewButton(tsFileManagement, "btDelete", "&Delete...");
  btAddPrefix = NewButton(tsFileManagement, "btAddPrefix", "Add &prefix");
  btAddSuffix = NewButton(tsFileManagement, "btAddSuffix", "Add &suffix");
  edSuffix = NewEdit(tsFileManagement, "edSuffix", "");
  btDisplay = NewButton(tsFileManagement, "btDisplay", "Dis&play...");
  btRename = NewButton(tsFileManagement, "btRename", "&Rename");
  edRename = NewEdit(tsFileManagement, "edRename", "");
  edRename->setToolTip("Each # stands for the map's number: Forest# gives Forest001, Forest002...");
  btCleanMetadata = NewButton(tsFileManagement, "btCleanMetadata", "&Clean metadata...");
  btDecimalPoint = NewButton(tsFileManagement, "btDecimalPoint", "Decimal sep. to \"&.\"");
  btDecimalComma = NewButton(tsFileManagement, "btDecimalComma", "Decimal sep. to \"&,\"");
  btRemoveUnderscore = NewButton(tsFileManagement, "btRemoveUnderscore", "Remove \"_\"");
  btRemoveBadChars = NewButton(tsFileManagement, "btRemoveBadChars", "Remove bad characters");
  // The buttons line up in columns of one width, wide enough for every caption.
  int buttonWidth = 0;
  const std::initializer_list<QPushButton*> fileButtons{btDelete,        btAddPrefix,    btAddSuffix,    btDisplay,
                                                        btRename,        btCleanMetadata, btDecimalPoint, btDecimalComma,
                                                        btRemoveUnderscore, btRemoveBadChars};
  for (QPushButton* b : fileButtons)
    buttonWidth = std::max(buttonWidth, b->fontMetrics().horizontalAdvance(b->text()) + 32);
  for (QPushButton* b : fileButtons) b->setMinimumWidth(buttonWidth);
  auto* fileLayout = new QGridLayout(tsFileManagement);
  fileLayout->addWidget(btDelete, 0, 0);
  fileLayout->addWidget(btDisplay, 0, 1);
  fileLayout->addWidget(btAddPrefix, 1, 0);
  fileLayout->addWidget(btAddSuffix, 1, 1);
  fileLayout->addWidget(edSuffix, 1, 2);
  fileLayout->addWidget(btRename, 2, 0);
  fileLayout->addWidget(edRename, 2, 1, 1, 2);
  fileLayout->addWidget(btRemoveUnderscore, 3, 0);
  fileLayout->addWidget(btRemoveBadChars, 3, 1);
  fileLayout->addWidget(btDecimalPoint, 4, 0);
  fileLayout->addWidget(btDecimalComma, 4, 1);
  fileLayout->addWidget(btCleanMetadata, 5, 0);
  fileLayout->setRowStretch(6, 1);
  fileLayout->setColumnStretch(2, 1);

  // ------------------------------------------------------------ data type management
  tsDataType = NewTabPage(pcOperations, "tsDataType", "Data type management");
  gbConversion = NewGroupBox(tsDataType, "gbConversion", "Data type conversion");
  rbReal = NewRadioButton(gbConversion, "rbReal", "&Real (32 bits)");
  rbInteger = NewRadioButton(gbConversion, "rbInteger", "&Integer (16 bits)");
  rbByte = NewRadioButton(gbConversion, "rbByte", "&Byte (8 bits: [0..255] )");
  rbOptimise = NewRadioButton(gbConversion, "rbOptimise", "&Optimisation");
  ckBackground = NewCheckBox(gbConversion, "ckBackground", "&Change background value if needed");
  ck9999 = NewCheckBox(gbConversion, "ck9999", "Change -&9999 into 0 (Arcview bug)");
  btConvertDataType = NewButton(gbConversion, "btConvertDataType", "Convert maps");
  auto* conversionLayout = new QVBoxLayout(gbConversion);
  for (QWidget* w : std::initializer_list<QWidget*>{rbReal, rbInteger, rbByte, rbOptimise, ckBackground, ck9999})
    conversionLayout->addWidget(w);
  conversionLayout->addStretch(1);
  conversionLayout->addWidget(btConvertDataType);

  gbModifications = NewGroupBox(tsDataType, "gbModifications", "Data modifications");
  rbTrunc = NewRadioButton(gbModifications, "rbTrunc", "&Truncation");
  rbRound = NewRadioButton(gbModifications, "rbRound", "&Rounding");
  rbBoolean = NewRadioButton(gbModifications, "rbBoolean", "Make &boolean");
  rbStretch = NewRadioButton(gbModifications, "rbStretch", "&Stretch between 0 and 100");
  rbStretch01 = NewRadioButton(gbModifications, "rbStretch01", "&Stretch between 0 and 1");
  rbModSmallestSize = NewRadioButton(gbModifications, "rbModSmallestSize", "Smallest size &possible");
  rbStretchAB = NewRadioButton(gbModifications, "rbStretchAB", "&Stretch between A and B:");
  edA = NewEdit(gbModifications, "edA", "-1");
  edB = NewEdit(gbModifications, "edB", "1");
  for (QLineEdit* e : {edA, edB}) e->setMaximumWidth(70);
  btModify = NewButton(gbModifications, "btModify", "&Modify maps");
  auto* modificationLayout = new QVBoxLayout(gbModifications);
  for (QWidget* w : std::initializer_list<QWidget*>{rbTrunc, rbRound, rbBoolean, rbStretch, rbStretch01,
                                                    rbModSmallestSize, rbStretchAB})
    modificationLayout->addWidget(w);
  auto* abLayout = new QHBoxLayout;
  abLayout->addSpacing(20);
  abLayout->addWidget(new QLabel("A", gbModifications));
  abLayout->addWidget(edA);
  abLayout->addWidget(new QLabel("B", gbModifications));
  abLayout->addWidget(edB);
  abLayout->addStretch(1);
  modificationLayout->addLayout(abLayout);
  modificationLayout->addStretch(1);
  modificationLayout->addWidget(btModify);
  // Each group is a choice of its own.
  auto* conversionChoices = new QButtonGroup(gbConversion);
  for (QRadioButton* r : {rbReal, rbInteger, rbByte, rbOptimise}) conversionChoices->addButton(r);
  auto* modificationChoices = new QButtonGroup(gbModifications);
  for (QRadioButton* r : {rbTrunc, rbRound, rbBoolean, rbStretch, rbStretch01, rbModSmallestSize, rbStretchAB})
    modificationChoices->addButton(r);

  gbOutput = NewGroupBox(tsDataType, "gbOutput", "Output maps");
  rbDTReplace = NewRadioButton(gbOutput, "rbDTReplace", "Re&place old file");
  // Nothing is replaced unless asked.
  rbDTNewName = NewRadioButton(gbOutput, "rbDTNewName", "&Add suffix:", true);
  edDTSuffix = NewEdit(gbOutput, "edDTSuffix", "-mod");
  auto* outputLayout = new QHBoxLayout(gbOutput);
  outputLayout->addWidget(rbDTReplace);
  outputLayout->addSpacing(16);
  outputLayout->addWidget(rbDTNewName);
  outputLayout->addWidget(edDTSuffix);
  outputLayout->addStretch(1);

  auto* dataTypeLayout = new QGridLayout(tsDataType);
  dataTypeLayout->addWidget(gbConversion, 0, 0);
  dataTypeLayout->addWidget(gbModifications, 0, 1);
  dataTypeLayout->addWidget(gbOutput, 1, 0, 1, 2);

  // ------------------------------------------------------------ metadata and comments
  tsMetadata = NewTabPage(pcOperations, "tsMetadata", "Metadata");
  mmMetadata = NewMemo(tsMetadata, "mmMetadata");
  mmMetadata->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* metadataLayout = new QVBoxLayout(tsMetadata);
  metadataLayout->addWidget(mmMetadata);

  tsComments = NewTabPage(pcOperations, "tsComments", "Comments");
  mmComment = new QPlainTextEdit(tsComments);
  mmComment->setObjectName("mmComment");
  btAddComments = NewButton(tsComments, "btAddComments", "Add comments");
  auto* commentLayout = new QVBoxLayout(tsComments);
  commentLayout->addWidget(mmComment, 1);
  commentLayout->addWidget(btAddComments, 0, Qt::AlignLeft);

  // ------------------------------------------------------------ conversion
  tsConversion = NewTabPage(pcOperations, "tsConversion", "Conversion");
  gbExport = NewGroupBox(tsConversion, "gbExport", "Export");
  cbFormat = new QComboBox(gbExport);
  cbFormat->setObjectName("cbFormat");
  for (const char* format : utile::ExportFormatStr) cbFormat->addItem(format);
  cbPalette = new QComboBox(gbExport);
  cbPalette->setObjectName("cbPalette");
  btExport = NewButton(gbExport, "btExport", "&Export");
  auto* formatLabel = new QLabel("&Format:", gbExport);
  formatLabel->setBuddy(cbFormat);
  auto* paletteLabel = new QLabel("&Palette:", gbExport);
  paletteLabel->setBuddy(cbPalette);
  auto* exportLayout = new QGridLayout(gbExport);
  exportLayout->addWidget(formatLabel, 0, 0);
  exportLayout->addWidget(cbFormat, 0, 1);
  exportLayout->addWidget(paletteLabel, 1, 0);
  exportLayout->addWidget(cbPalette, 1, 1);
  exportLayout->addWidget(btExport, 2, 1, Qt::AlignLeft);
  exportLayout->setRowStretch(3, 1);

  pnPreview = new QFrame(tsConversion);
  pnPreview->setObjectName("pnPreview");
  pnPreview->setFrameShape(QFrame::StyledPanel);
  ckPreview = NewCheckBox(pnPreview, "ckPreview", "Show preview", true);
  auto* previewLayout = new QVBoxLayout(pnPreview);
  previewLayout->addWidget(ckPreview);
  PreviewMap = nullptr;  // made by FormCreate, on this panel

  auto* conversionPageLayout = new QHBoxLayout(tsConversion);
  conversionPageLayout->addWidget(gbExport);
  conversionPageLayout->addWidget(pnPreview, 1);

  // ------------------------------------------------------------ bottom
  mmOutput = NewMemo(central, "mmOutput", true);
  lblTask = NewLabel(central, "lblTask", ReadyText);
  ggTask = new QProgressBar(central);
  ggTask->setObjectName("ggTask");
  ggTask->setRange(0, 100);
  ggTask->setValue(0);
  ggTask->hide();

  auto* top = new QSplitter(Qt::Horizontal, central);
  top->addWidget(gbMapFiles);
  top->addWidget(pcOperations);
  top->setStretchFactor(0, 2);
  top->setStretchFactor(1, 3);
  auto* body = new QSplitter(Qt::Vertical, central);
  body->addWidget(top);
  body->addWidget(mmOutput);
  body->setStretchFactor(0, 4);
  body->setStretchFactor(1, 1);
  auto* taskLayout = new QHBoxLayout;
  taskLayout->addWidget(lblTask);
  taskLayout->addWidget(ggTask, 1);
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(body, 1);
  layout->addLayout(taskLayout);

  // ------------------------------------------------------------ menu
  mnProgram = menuBar()->addMenu("&Program");
  mnProgram->setObjectName("mnProgram");
  mnExit = mnProgram->addAction("E&xit");
  mnExit->setObjectName("mnExit");
  mnExit->setShortcut(QKeySequence("Ctrl+Q"));
  mnHelp = menuBar()->addMenu("&Help");
  mnHelp->setObjectName("mnHelp");
  mnHelpItem = mnHelp->addAction("&Help...");
  mnHelpItem->setObjectName("mnHelpItem");
  mnAbout = mnHelp->addAction("&About...");
  mnAbout->setObjectName("mnAbout");

  resize(1000, 700);
}

void TdlgKelvora::FormCreate() {
  TCustomPalometDialog::FormCreate();
  fFilling = true;
  const QStringList parts = Q(utile::MapFileFilter + TextFilesFilter).split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) cbFilter->addItem(parts[i], parts[i + 1]);
  NbSelected = 0;
  for (Integer kind = 0; kind < utile::PaletteTypeCount(); ++kind) cbPalette->addItem(utile::PaletteTypeStr[kind]);
  cbPalette->setCurrentIndex(cbPalette->findText("Rainbow"));
  cbFormat->setCurrentIndex(cbFormat->findText("JPEG (*.jpg)"));
  PreviewMap = new tGraphMap(pnPreview);
  PreviewMap->setObjectName("PreviewMap");
  pnPreview->layout()->addWidget(PreviewMap);
  static_cast<QVBoxLayout*>(pnPreview->layout())->setStretchFactor(PreviewMap, 1);
  fFilling = false;
  ChangeFolder(CurrentFolder());
  cbPaletteChange();
  UpdateControls();
}

void TdlgKelvora::ConnectControls() {
  connect(cbDrive, &QComboBox::activated, this, [this](int index) {
    if (!ChangeFolder(S(cbDrive->itemData(index).toString())))
      Dialogs().ShowMessage(this, Format("Cannot open %s", S(cbDrive->itemText(index))), tMessageKind::mkError);
  });
  // The folder list is refilled once the activation is over, not from inside it.
  connect(cbDirectory, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const std::string folder = S(item->data(Qt::UserRole).toString());
    QMetaObject::invokeMethod(this, [this, folder] {
      if (!ChangeFolder(folder)) {
        Dialogs().ShowMessage(this, Format("Cannot open the folder %s", folder), tMessageKind::mkError);
        ChangeFolder(CurrentFolder());
      }
    }, Qt::QueuedConnection);
  });
  connect(cbFilter, &QComboBox::currentIndexChanged, this, [this] {
    if (!fFilling) RefreshFileList();
  });
  // A selection made with the mouse or the keyboard, and the focus moving in the list.
  connect(cbMaps, &QListWidget::itemSelectionChanged, this, [this] {
    if (!fFilling) cbMapsClick();
  });
  connect(cbMaps, &QListWidget::currentItemChanged, this, [this] {
    if (!fFilling) cbMapsClick();
  });

  for (QLineEdit* edit : {edSuffix, edRename, edDTSuffix})
    connect(edit, &QLineEdit::textChanged, this, &TdlgKelvora::UpdateControls);
  connect(edDTSuffix, &QLineEdit::textEdited, this, [this] { rbDTNewName->setChecked(true); });
  connect(mmComment, &QPlainTextEdit::textChanged, this, &TdlgKelvora::UpdateControls);
  for (QRadioButton* choice : {rbReal, rbInteger, rbByte, rbOptimise, rbTrunc, rbRound, rbBoolean, rbStretch,
                               rbStretch01, rbModSmallestSize, rbStretchAB, rbDTReplace, rbDTNewName})
    connect(choice, &QRadioButton::toggled, this, &TdlgKelvora::UpdateControls);
  connect(ckPreview, &QCheckBox::toggled, this, &TdlgKelvora::UpdateControls);
  connect(pcOperations, &QTabWidget::currentChanged, this, &TdlgKelvora::UpdateControls);
  connect(cbPalette, &QComboBox::currentIndexChanged, this, &TdlgKelvora::cbPaletteChange);
  utile::gui::InstallKeyFilter(edA, utile::gui::EditReal);
  utile::gui::InstallKeyFilter(edB, utile::gui::EditReal);

  connect(btDelete, &QPushButton::clicked, this, &TdlgKelvora::btDeleteClick);
  connect(btAddPrefix, &QPushButton::clicked, this, &TdlgKelvora::btAddPrefixClick);
  connect(btAddSuffix, &QPushButton::clicked, this, &TdlgKelvora::btAddSuffixClick);
  connect(btRename, &QPushButton::clicked, this, &TdlgKelvora::btRenameClick);
  connect(btRemoveUnderscore, &QPushButton::clicked, this, &TdlgKelvora::btRemoveUnderscoreClick);
  connect(btRemoveBadChars, &QPushButton::clicked, this, &TdlgKelvora::btRemoveBadCharsClick);
  connect(btAddComments, &QPushButton::clicked, this, &TdlgKelvora::btAddCommentsClick);
  connect(btCleanMetadata, &QPushButton::clicked, this, &TdlgKelvora::btCleanMetadataClick);
  connect(btDecimalPoint, &QPushButton::clicked, this, &TdlgKelvora::btDecimalPointClick);
  connect(btDecimalComma, &QPushButton::clicked, this, &TdlgKelvora::btDecimalCommaClick);
  connect(btDisplay, &QPushButton::clicked, this, &TdlgKelvora::btDisplayClick);
  connect(btConvertDataType, &QPushButton::clicked, this, &TdlgKelvora::btConvertDataTypeClick);
  connect(btModify, &QPushButton::clicked, this, &TdlgKelvora::btModifyClick);
  connect(btExport, &QPushButton::clicked, this, &TdlgKelvora::btExportClick);

  connect(mnExit, &QAction::triggered, this, &QWidget::close);
  connect(mnHelpItem, &QAction::triggered, this, [] {
    if (!fKelvoraHelp) return;
    fKelvoraHelp->show();
    fKelvoraHelp->raise();
  });
  connect(mnAbout, &QAction::triggered, this, [] {
    if (fKelvoraAboutBox) fKelvoraAboutBox->exec();
  });
}

void TdlgKelvora::closeEvent(QCloseEvent* event) {
  // The files in hand are left alone: the window closes once the walk is over.
  if (fWalkRunning) {
    fClosePending = true;
    event->ignore();
    return;
  }
  TCustomPalometDialog::closeEvent(event);
  if (fKelvoraHelp) fKelvoraHelp->close();
  emit Closed();
}

// ==================================================================== folders and files

std::string TdlgKelvora::CurrentFolder() const {
  std::error_code error;
  const std::string folder = std::filesystem::current_path(error).string();
  return error ? std::string("/") : folder;
}

bool TdlgKelvora::ChangeFolder(const std::string& folder) {
  if (fWalkRunning) return false;
  std::error_code error;
  std::filesystem::current_path(folder, error);
  if (error) return false;
  SelectDriveOf(CurrentFolder());
  FillFolderList();
  RefreshFileList();
  return true;
}

void TdlgKelvora::SelectDriveOf(const std::string& folder) {
  // The root and the mounted volumes stand for the drives.
  QStringList roots{"/"};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
    if (volume.isValid() && volume.isReady() && !roots.contains(volume.rootPath())) roots << volume.rootPath();
  std::sort(roots.begin(), roots.end());
  QStringList shown;
  for (int i = 0; i < cbDrive->count(); ++i) shown << cbDrive->itemData(i).toString();
  if (shown != roots) {
    cbDrive->clear();
    for (const QString& root : roots) cbDrive->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), root, root);
  }
  // The drive of a folder is the deepest volume that holds it.
  int best = 0;
  qsizetype bestLength = 0;
  const QString path = Q(folder);
  for (int i = 0; i < cbDrive->count(); ++i) {
    const QString root = cbDrive->itemData(i).toString();
    const bool holds = root == "/" || path == root || path.startsWith(root.endsWith('/') ? root : root + "/");
    if (holds && root.size() > bestLength) {
      best = i;
      bestLength = root.size();
    }
  }
  cbDrive->setCurrentIndex(best);
}

void TdlgKelvora::FillFolderList() {
  cbDirectory->clear();
  const std::filesystem::path folder(CurrentFolder());
  // The path from the root down to the folder, then its subfolders one step in.
  std::vector<std::filesystem::path> path;
  for (std::filesystem::path p = folder; !p.empty(); p = p.parent_path()) {
    path.push_back(p);
    if (p == p.parent_path()) break;
  }
  std::reverse(path.begin(), path.end());
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  int depth = 0;
  for (const auto& p : path) {
    const std::string name = p == p.root_path() ? p.string() : p.filename().string();
    auto* item = new QListWidgetItem(open, QString(depth * 2, ' ') + Q(name), cbDirectory);
    item->setData(Qt::UserRole, Q(p.string()));
    ++depth;
  }
  cbDirectory->setCurrentRow(cbDirectory->count() - 1);
  std::vector<std::string> folders;
  ReadFolder(folder.string(), {}, nullptr, &folders);
  for (const std::string& name : folders) {
    auto* item = new QListWidgetItem(closed, QString(depth * 2, ' ') + Q(name), cbDirectory);
    item->setData(Qt::UserRole, Q((folder / name).string()));
  }
}

void TdlgKelvora::RefreshFileList() {
  QSet<QString> selected;
  for (const QListWidgetItem* item : cbMaps->selectedItems()) selected.insert(item->text());
  const QString current = cbMaps->currentItem() ? cbMaps->currentItem()->text() : QString();

  std::vector<std::string> files;
  ReadFolder(CurrentFolder(), SplitMasks(S(cbFilter->currentData().toString())), &files, nullptr);
  QStringList names;
  names.reserve(static_cast<qsizetype>(files.size()));
  for (const std::string& file : files) names << Q(file);

  fFilling = true;
  cbMaps->clear();
  cbMaps->addItems(names);
  if (!selected.isEmpty() || !current.isEmpty()) {
    for (int i = 0; i < cbMaps->count(); ++i) {
      QListWidgetItem* item = cbMaps->item(i);
      if (item->text() == current) cbMaps->setCurrentItem(item, QItemSelectionModel::NoUpdate);
      if (selected.contains(item->text())) item->setSelected(true);
    }
  }
  fFilling = false;
  cbMapsClick();
}

std::vector<utile::tListedFile> TdlgKelvora::ListedFiles() const {
  const std::string folder = utile::IncludeTrailingPathDelimiter(CurrentFolder());
  std::vector<utile::tListedFile> files;
  files.reserve(static_cast<size_t>(cbMaps->count()));
  for (int i = 0; i < cbMaps->count(); ++i) {
    const QListWidgetItem* item = cbMaps->item(i);
    files.push_back({folder + S(item->text()), item->isSelected()});
  }
  return files;
}

void TdlgKelvora::Log(const std::string& line) { mmOutput->appendPlainText(Q(line)); }

// ==================================================================== selection and controls

bool TdlgKelvora::IsRasterFile(const std::string& fileName) const { return utile::IsRasterFile(fileName); }

void TdlgKelvora::cbMapsClick() {
  NbSelected = static_cast<Integer>(cbMaps->selectedItems().size());
  const QListWidgetItem* focused = cbMaps->currentItem();
  if (NbSelected == 0 || !focused || !IsRasterFile(S(focused->text()))) {
    mmMetadata->clear();
  } else {
    const std::string docName =
        utile::DocumentationFileOf(utile::IncludeTrailingPathDelimiter(CurrentFolder()) + S(focused->text()));
    try {
      mmMetadata->setPlainText(DecodeText(utile::LoadTextFromFile(docName)));
    } catch (const std::exception& error) {
      mmMetadata->clear();
      Dialogs().ShowMessage(this, error.what(), tMessageKind::mkError);
    }
  }
  UpdateControls();
}

void TdlgKelvora::UpdateControls() {
  if (fFilling) return;
  const bool some = NbSelected > 0 && !fWalkRunning;
  const bool suffix = !edSuffix->text().isEmpty();
  const bool outputComplete = OutputComplete();
  for (QPushButton* button : {btDelete, btDisplay, btCleanMetadata, btDecimalPoint, btDecimalComma,
                              btRemoveUnderscore, btRemoveBadChars, btExport})
    button->setEnabled(some);
  btAddPrefix->setEnabled(some && suffix);
  btAddSuffix->setEnabled(some && suffix);
  btRename->setEnabled(some && !edRename->text().isEmpty());
  btConvertDataType->setEnabled(some && CheckedConversion() && outputComplete);
  btModify->setEnabled(some && CheckedModification() && outputComplete);
  btAddComments->setEnabled(some && !mmComment->toPlainText().isEmpty());
  UpdatePreview();
}

void TdlgKelvora::UpdatePreview() {
  // During a walk the maps in hand are being rewritten: the preview follows once
  // the list is read again.
  if (!PreviewMap || fWalkRunning || pcOperations->currentWidget() != tsConversion) return;
  PreviewMap->setVisible(ckPreview->isChecked());
  if (!ckPreview->isChecked()) return;
  std::string raster;
  if (NbSelected > 0)
    for (const utile::tListedFile& file : ListedFiles())
      if (file.Selected && IsRasterFile(file.FileName)) {
        raster = file.FileName;
        break;
      }
  if (raster.empty()) {
    if (!fPreviewKey.empty()) PreviewMap->Clear();
    fPreviewKey.clear();
    return;
  }
  // A map whose files have not changed is not read again.
  const std::string base = utile::MapBaseName(raster);
  const std::string key =
      FileStamp(base + utile::DocExtension) + "|" + FileStamp(base + utile::ImageExtension);
  if (key == fPreviewKey) return;
  fPreviewKey = key;
  utile::gui::tHourGlass hourGlass;
  ++fPreviewReads;
  try {
    utile::tRaster map(raster);
    PreviewMap->SetMatrix(map.AsMatrix());
    PreviewMap->SetRange(map.MinValue, map.MaxValue);
    PreviewMap->SetBackGroundValue(utile::ExportBackground(map));
    PreviewMap->Draw();
    PreviewMap->KeepPictureOnly();
  } catch (const std::exception&) {
    PreviewMap->Clear();
  }
}

void TdlgKelvora::cbPaletteChange() {
  const int index = std::max(0, cbPalette->currentIndex());
  if (!PreviewMap) return;
  PreviewMap->SetPalette(utile::CreatePalette(static_cast<utile::tPaletteType>(index)));
  // The preview keeps only its picture: another palette draws the map again.
  fPreviewKey.clear();
  UpdatePreview();
}

// ==================================================================== the walk

std::vector<std::string> TdlgKelvora::MapsToWalk(utile::tWalkOrder order) const {
  return utile::MapsToWalk(ListedFiles(), order);
}

void TdlgKelvora::ReportFailure(const std::string& fileName, const std::string& reason) {
  Log(utile::MapErrorLine(fileName));
  Log(utile::MapErrorReasonLine(reason));
}

void TdlgKelvora::SetWalkRunning(bool running) {
  fWalkRunning = running;
  // What would change the files in hand, or the folder they lie in, waits.
  for (QWidget* w : std::initializer_list<QWidget*>{cbDrive, cbDirectory, cbMaps, cbFilter})
    w->setEnabled(!running);
  mnExit->setEnabled(!running);
  UpdateControls();
}

bool TdlgKelvora::RunLocked(const std::function<void()>& body) {
  if (fWalkRunning) return false;
  SetWalkRunning(true);
  try {
    body();
  } catch (...) {
    // A walk that fails as a whole still leaves the window as after any walk.
    EndOfWalk();
    throw;
  }
  EndOfWalk();
  return true;
}

void TdlgKelvora::EndOfWalk() {
  SetWalkRunning(false);
  RefreshFileList();
  if (fClosePending) {
    fClosePending = false;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}

Integer TdlgKelvora::RunOnSelection(utile::tWalkOrder order,
                                    const std::function<void(const std::string& fileName, Integer n)>& action,
                                    const tFailureReport& failed) {
  if (fWalkRunning) return 0;
  const std::vector<std::string> maps = MapsToWalk(order);
  Integer failures = 0;
  RunLocked([&] {
    failures = utile::WalkMaps(
        maps, {action, failed ? failed : [this](const std::string& file, const std::string& why) {
                 ReportFailure(file, why);
               }});
  });
  return failures;
}

// ==================================================================== operations

void TdlgKelvora::btDeleteClick() {
  if (fWalkRunning) return;
  const auto maps = MapsToWalk(utile::tWalkOrder::woLastToFirst);
  if (maps.empty()) return;
  if (!Dialogs().Confirm(this, Format("This will permanently delete %d maps. Are you sure it is really what you want "
                                      "to do?",
                                      static_cast<Integer>(maps.size()))))
    return;
  RunOnSelection(
      utile::tWalkOrder::woLastToFirst,
      [this](const std::string& file, Integer) {
        utile::DeleteMapFile(file);
        Log(Format("%s deleted", utile::ExtractMapName(file)));
      },
      [this](const std::string& file, const std::string& why) {
        Log(Format("%s couldn't be deleted", utile::ExtractMapName(file)));
        Log("    " + why);
      });
}

void TdlgKelvora::btAddPrefixClick() {
  const std::string prefix = S(edSuffix->text());
  if (prefix.empty()) return;
  RunOnSelection(utile::tWalkOrder::woLastToFirst, [this, &prefix](const std::string& file, Integer) {
    if (utile::RenameMap(file, [&prefix](const std::string& stem) { return prefix + stem; }).Renamed)
      Log(Format("%s renamed", utile::ExtractMapName(file)));
  });
}

void TdlgKelvora::btAddSuffixClick() {
  const std::string suffix = S(edSuffix->text());
  if (suffix.empty()) return;
  RunOnSelection(utile::tWalkOrder::woLastToFirst, [this, &suffix](const std::string& file, Integer) {
    const bool raster = IsRasterFile(file);
    const auto rule = [&](const std::string& stem) { return raster ? utile::InsertSuffix(stem, suffix) : stem + suffix; };
    if (utile::RenameMap(file, rule).Renamed) Log(Format("%s renamed", utile::ExtractMapName(file)));
  });
}

void TdlgKelvora::RenameSelection(const std::function<std::string(const std::string& stem)>& newStem,
                                  const std::function<void()>& renamed) {
  RunOnSelection(
      utile::tWalkOrder::woFirstToLast,
      [this, &newStem, &renamed](const std::string& file, Integer) {
        const utile::tRenameResult result = utile::RenameMap(file, newStem);
        if (renamed) renamed();
        if (result.Renamed)
          Log(Format("%s was renamed %s", utile::ExtractMapName(file), utile::ExtractMapName(result.NewFileName)));
      },
      [this](const std::string& file, const std::string& why) {
        ReportFailure(file, why);
        Dialogs().ShowMessage(this, why, tMessageKind::mkError);
      });
}

void TdlgKelvora::btRenameClick() {
  const std::string pattern = S(edRename->text());
  if (pattern.empty()) return;
  // The counter moves on only for a map that took its number.
  Integer counter = 1;
  RenameSelection([&](const std::string&) { return utile::PatternStem(pattern, counter); }, [&] { ++counter; });
}

void TdlgKelvora::btRemoveUnderscoreClick() { RenameSelection(utile::WithoutUnderscores); }

void TdlgKelvora::btRemoveBadCharsClick() { RenameSelection(utile::WithoutBadCharacters); }

void TdlgKelvora::btAddCommentsClick() {
  QStringList lines = mmComment->toPlainText().split('\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();  // the end of the last line
  if (lines.isEmpty()) return;
  utile::tVectorOfString comments;
  for (const QString& line : lines) comments.push_back(S(line));
  RunOnSelection(utile::tWalkOrder::woLastToFirst, [this, &comments](const std::string& file, Integer) {
    utile::AddComments(file, comments);
    Log(Format("%s: Comment added.", utile::ExtractMapName(file)));
  });
}

void TdlgKelvora::btCleanMetadataClick() {
  if (fWalkRunning || MapsToWalk(utile::tWalkOrder::woFirstToLast).empty()) return;
  if (!Dialogs().ConfirmOkCancel(this, "This will clear all comments and lineage information of the selected maps. "
                                       "Are you sure?"))
    return;
  RunOnSelection(utile::tWalkOrder::woFirstToLast, [this](const std::string& file, Integer) {
    utile::CleanMetadata(file);
    Log(Format("%s's metadata have been cleaned", utile::ExtractMapName(file)));
  });
}

void TdlgKelvora::RewriteDecimals(char separator) {
  RunOnSelection(utile::tWalkOrder::woFirstToLast, [separator](const std::string& file, Integer) {
    utile::RewriteDecimalSeparator(file, separator);
  });
}

void TdlgKelvora::btDecimalPointClick() { RewriteDecimals('.'); }

void TdlgKelvora::btDecimalCommaClick() { RewriteDecimals(','); }

void TdlgKelvora::btDisplayClick() {
  RunOnSelection(utile::tWalkOrder::woFirstToLast, [this](const std::string& file, Integer) {
    const utile::tStartResult result = utile::StartMapViewer(ProgramFolder(), file);
    if (result != utile::tStartResult::srStarted)
      Dialogs().ShowMessage(this, utile::MapViewerFailureMessage(result), tMessageKind::mkError);
  });
}

// ==================================================================== conversions and exports

utile::tMapWalkHooks TdlgKelvora::MapWalkHooks() {
  utile::tMapWalkHooks hooks;
  hooks.Log = [this](const std::string& line) { Log(line); };
  hooks.Task = [this](const std::string& text) { lblTask->setText(Q(text)); };
  hooks.Progress = [this](Integer percent) { ggTask->setValue(percent); };
  hooks.Confirm = [this](const std::string& question) { return Dialogs().Confirm(this, question); };
  hooks.ErrorBox = [this](const std::string& text) {
    Dialogs().ShowMessage(this, text, tMessageKind::mkError);
  };
  hooks.WarningBox = [this](const std::string& text) {
    Dialogs().ShowMessage(this, text, tMessageKind::mkWarning);
  };
  return hooks;
}

utile::tMapOutput TdlgKelvora::DataTypeOutput() const {
  return {rbDTReplace->isChecked(), S(edDTSuffix->text())};
}

std::optional<utile::tConversion> TdlgKelvora::CheckedConversion() const {
  const std::pair<QRadioButton*, utile::tConversion> choices[] = {{rbReal, utile::cvReal},
                                                                  {rbInteger, utile::cvInteger},
                                                                  {rbByte, utile::cvByte},
                                                                  {rbOptimise, utile::cvOptimise}};
  for (const auto& [choice, conversion] : choices)
    if (choice->isChecked()) return conversion;
  return std::nullopt;
}

std::optional<utile::tModification> TdlgKelvora::CheckedModification() const {
  const std::pair<QRadioButton*, utile::tModification> choices[] = {
      {rbTrunc, utile::mdTruncate},
      {rbRound, utile::mdRound},
      {rbBoolean, utile::mdBoolean},
      {rbStretch, utile::mdStretch0100},
      {rbStretch01, utile::mdStretch01},
      {rbStretchAB, utile::mdStretchAB},
      {rbModSmallestSize, utile::mdSmallestSize}};
  for (const auto& [choice, modification] : choices)
    if (choice->isChecked()) return modification;
  return std::nullopt;
}

bool TdlgKelvora::OutputComplete() const {
  return rbDTReplace->isChecked() || (rbDTNewName->isChecked() && !edDTSuffix->text().isEmpty());
}

void TdlgKelvora::RunMapWalk(const std::function<void(const utile::tMapWalkHooks& hooks)>& walk) {
  RunLocked([&] {
    struct tEnd {
      TdlgKelvora* Window;
      ~tEnd() {
        Window->ggTask->hide();
        Window->lblTask->setText("Ready");
      }
    } end{this};
    utile::gui::tHourGlass hourGlass;
    // The gauge starts from nothing for each walk.
    ggTask->show();
    ggTask->reset();
    ggTask->setValue(0);
    walk(MapWalkHooks());
  });
}

void TdlgKelvora::btConvertDataTypeClick() {
  if (fWalkRunning) return;
  const std::optional<utile::tConversion> conversion = CheckedConversion();
  if (!conversion || !OutputComplete()) return;
  const utile::tMapOutput output = DataTypeOutput();
  const std::vector<std::string> maps = MapsToWalk(utile::tWalkOrder::woFirstToLast);
  if (maps.empty()) return;
  const utile::tConversionChecks checks{ckBackground->isChecked(), ck9999->isChecked()};
  RunMapWalk([&](const utile::tMapWalkHooks& hooks) {
    utile::ConvertMaps(maps, *conversion, checks, output, hooks);
  });
}

void TdlgKelvora::btModifyClick() {
  if (fWalkRunning) return;
  const std::optional<utile::tModification> modification = CheckedModification();
  if (!modification || !OutputComplete()) return;
  const utile::tMapOutput output = DataTypeOutput();
  const std::vector<std::string> maps = MapsToWalk(utile::tWalkOrder::woFirstToLast);
  if (maps.empty()) return;
  const std::string a = S(edA->text()), b = S(edB->text());
  RunMapWalk([&](const utile::tMapWalkHooks& hooks) {
    utile::ModifyMaps(maps, *modification, a, b, output, hooks);
  });
}

void TdlgKelvora::ExportPicture(tGraphMap& image, const utile::tRaster& map, utile::tMatrixOfDouble matrix,
                                utile::tExportFormat format, const std::string& fileName) {
  image.setWindowTitle(Q("Export: " + map.Name()));
  image.SetMatrix(std::move(matrix));
  // No range: the picture spans the present cells.
  image.SetBackGroundValue(utile::ExportBackground(map));
  image.Draw();
  // The next map's matrix is read while this picture is shown: only one is kept.
  image.KeepPictureOnly();
  // The picture shows before it is saved.
  utile::ProcessMessagesNow();
  if (format == utile::efBitmap)
    image.SaveToBitmapFile(fileName);
  else
    image.SaveToJpegFile(fileName, 100, true);
}

void TdlgKelvora::btExportClick() {
  if (fWalkRunning) return;
  const std::vector<std::string> maps = MapsToWalk(utile::tWalkOrder::woFirstToLast);
  if (maps.empty()) return;
  const auto format = static_cast<utile::tExportFormat>(
      std::clamp(cbFormat->currentIndex(), 0, static_cast<int>(utile::ExportFormatStr.size()) - 1));
  const auto palette = static_cast<utile::tPaletteType>(std::max(0, cbPalette->currentIndex()));
  RunLocked([&] {
    utile::gui::tHourGlass hourGlass;
    // Its own window, shown while the export runs, gone with it.
    auto image = std::make_unique<tGraphMap>();
    image->setObjectName("ExportMap");
    image->setWindowTitle("Export");
    image->SetPalette(utile::CreatePalette(palette));
    fExportImage = image.get();
    struct tForget {
      tGraphMap*& Image;
      ~tForget() { Image = nullptr; }
    } forget{fExportImage};
    utile::tExportHooks hooks;
    hooks.Log = [this](const std::string& line) { Log(line); };
    hooks.SavePicture = [&](const utile::tRaster& map, utile::tMatrixOfDouble matrix, utile::tExportFormat f,
                            const std::string& fileName) {
      ExportPicture(*image, map, std::move(matrix), f, fileName);
    };
    utile::ExportMaps(maps, format, hooks);
  });
}

}  // namespace kelvora
