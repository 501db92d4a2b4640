// The main window of the map-file manager: a file browser (drive, folder, file
// list, filter) beside pages of operations on the selected files, a log of what
// each operation did and a task line with its gauge.
//
// Every operation walks the selected maps through RunOnSelection, which takes
// each map once, guards each one on its own, locks the browser while it runs
// and reads the folder again afterwards. The conversions, modifications and
// exports hand the selection to the map-operation walks under the same lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Utile/MapConversions.h"
#include "Utile/MapExports.h"
#include "Utile/MapFileOps.h"
#include "mapfiles/CustomPalometDialogs.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace kelvora {

class tGraphMap;

class TdlgKelvora : public TCustomPalometDialog {
  Q_OBJECT
 public:
  explicit TdlgKelvora(QWidget* parent = nullptr);
  ~TdlgKelvora() override;

  // ---------------------------------------------------------------- map files
  QComboBox* cbDrive;
  QListWidget* cbDirectory;
  QListWidget* cbMaps;
  QComboBox* cbFilter;

  // ---------------------------------------------------------------- pages
  QTabWidget* pcOperations;
  QWidget *tsFileManagement, *tsDataType, *tsMetadata, *tsComments, *tsConversion;

  QPushButton *btDelete, *btAddPrefix, *btAddSuffix, *btDisplay, *btRename, *btCleanMetadata, *btDecimalPoint,
      *btDecimalComma, *btRemoveUnderscore, *btRemoveBadChars;
  QLineEdit *edSuffix, *edRename;

  QGroupBox *gbConversion, *gbModifications, *gbOutput;
  QRadioButton *rbReal, *rbInteger, *rbByte, *rbOptimise;
  QCheckBox *ckBackground, *ck9999;
  QPushButton* btConvertDataType;
  QRadioButton *rbTrunc, *rbRound, *rbBoolean, *rbStretch, *rbStretch01, *rbModSmallestSize, *rbStretchAB;
  QLineEdit *edA, *edB;
  QPushButton* btModify;
  QRadioButton *rbDTReplace, *rbDTNewName;
  QLineEdit* edDTSuffix;

  QPlainTextEdit* mmMetadata;
  QPlainTextEdit* mmComment;
  QPushButton* btAddComments;

  QGroupBox* gbExport;
  QComboBox *cbFormat, *cbPalette;
  QPushButton* btExport;
  QFrame* pnPreview;
  QCheckBox* ckPreview;
  tGraphMap* PreviewMap;

  // ---------------------------------------------------------------- bottom and menu
  QPlainTextEdit* mmOutput;
  QLabel* lblTask;
  QProgressBar* ggTask;
  QMenu *mnProgram, *mnHelp;
  QAction *mnExit, *mnHelpItem, *mnAbout;

  // How many files are selected, recounted on every change of the selection.
  utile::Integer NbSelected = 0;

  // ---------------------------------------------------------------- behaviour
  void FormCreate();
  void cbMapsClick();
  bool IsRasterFile(const std::string& fileName) const;
  void UpdateControls();
  void cbPaletteChange();

  // The folder the file list shows (the current folder), with no trailing delimiter.
  std::string CurrentFolder() const;
  // Makes the folder current and shows it; false when it cannot be entered.
  bool ChangeFolder(const std::string& folder);
  // Reads the folder again from disk; the files still there keep their selection.
  void RefreshFileList();
  // The files of the list with their full names, in list order.
  std::vector<utile::tListedFile> ListedFiles() const;
  void Log(const std::string& line);

  // How a map that failed is reported: by default the error line and its reason.
  using tFailureReport = std::function<void(const std::string& fileName, const std::string& reason)>;
  // Runs the action on each selected map in the order given (each map once),
  // each inside its own error guard; the browser and the operations are locked
  // meanwhile, and the file list is read again at the end, also after a failure.
  // Returns the number of maps that failed.
  utile::Integer RunOnSelection(utile::tWalkOrder order,
                                const std::function<void(const std::string& fileName, utile::Integer n)>& action,
                                const tFailureReport& failed = {});
  // The report of a failed map in the log.
  void ReportFailure(const std::string& fileName, const std::string& reason);
  bool WalkRunning() const { return fWalkRunning; }
  // The maps an operation would act on now (each map once), in walk order.
  std::vector<std::string> MapsToWalk(utile::tWalkOrder order) const;

  // The operations of the "File management" and "Comments" pages.
  void btDeleteClick();
  void btAddPrefixClick();
  void btAddSuffixClick();
  void btRenameClick();
  void btRemoveUnderscoreClick();
  void btRemoveBadCharsClick();
  void btAddCommentsClick();
  void btCleanMetadataClick();
  void btDecimalPointClick();
  void btDecimalCommaClick();
  void btDisplayClick();

  // The "Data type management" page: the checked conversion or the first checked
  // modification on every selected map, last to first, with the gauge and the
  // task text; and the "Conversion" page's export, first to last.
  void btConvertDataTypeClick();
  void btModifyClick();
  void btExportClick();
  // The map image of the export running (its own window), nullptr otherwise.
  tGraphMap* ExportImage() const { return fExportImage; }

  // How many times the preview has read a map (it keeps its picture while the
  // map's files and the palette stay the same).
  utile::Integer PreviewReads() const { return fPreviewReads; }

 signals:
  // The window has closed (WorkDir.ini written): the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void ConnectControls();
  void FillFolderList();
  void SelectDriveOf(const std::string& folder);
  void UpdatePreview();
  void SetWalkRunning(bool running);
  // The renames by pattern, of underscores and of brackets: first to last, each
  // failure also in an error box.
  void RenameSelection(const std::function<std::string(const std::string& stem)>& newStem,
                       const std::function<void()>& renamed = {});
  void RewriteDecimals(char separator);
  // Runs the body with the browser and the operations locked; the file list is
  // read again afterwards, also when it raises, and a close asked for meanwhile
  // follows. False when a walk is already running (nothing is done).
  bool RunLocked(const std::function<void()>& body);
  void EndOfWalk();
  // The frame of the conversions and modifications: gauge, hour-glass, task text.
  void RunMapWalk(const std::function<void(const utile::tMapWalkHooks& hooks)>& walk);
  utile::tMapWalkHooks MapWalkHooks();
  utile::tMapOutput DataTypeOutput() const;
  // The conversion checked, and the first modification checked in the order of the
  // choices; none when no choice of the group is checked.
  std::optional<utile::tConversion> CheckedConversion() const;
  std::optional<utile::tModification> CheckedModification() const;
  // The output maps are set: the old files replaced, or a suffix given.
  bool OutputComplete() const;
  // Draws the map into the export's image and saves its picture in the format.
  void ExportPicture(tGraphMap& image, const utile::tRaster& map, utile::tMatrixOfDouble matrix,
                     utile::tExportFormat format, const std::string& fileName);

  bool fWalkRunning = false;
  bool fClosePending = false;
  bool fFilling = false;  // the list is being refilled: its signals mean nothing
  utile::Integer fPreviewReads = 0;
  std::string fPreviewKey;  // what the preview shows (empty: nothing)
  tGraphMap* fExportImage = nullptr;
};

}  // namespace kelvora
