#pragma once

#include <QImage>
#include <QMainWindow>
#include <QRect>
#include <QRectF>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Utile/ColorOps.h"
#include "app/TaggedControls.h"
#include "models/LandscapeFiles.h"
#include "models/LandscapeGenerator.h"

class QAction;
class QChartView;
namespace utile::gui {
class tBubbleSeries;
class tChartLayer;
class tGraphicChart;
}  // namespace utile::gui
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPainter;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class QWidget;

namespace vandrel {

class tModelForm;

// Developer controls are offered in testing mode.
extern bool TestingMode;

// The kinds of workbench that the model menu creates.
enum class tWorkbenchKind { wkSimpleDemo, wkMatrix, wkBigMatrix, wkIBSimple, wkGraph };

// Makes a workbench of one kind with the main window as its owner (nullptr: the
// kind is not available).
using tWorkbenchFactory = std::function<tModelForm*(class TdlgVandrel*)>;

// The main window of Vandrel: the landscape editor and the model menu.
class TdlgVandrel : public QMainWindow {
  Q_OBJECT
 public:
  explicit TdlgVandrel(QWidget* parent = nullptr);
  ~TdlgVandrel() override;

  // ------------------------------------------------------------------ menus
  QMenu* mnFile;
  QAction *mnOpenProject, *mnSaveProject, *mnExit;
  QMenu* mnLandscape;
  QAction *Loadpatchfile1, *Savepatchfile1, *mnConnectivityHistogram, *mnuLoadBackground, *mnuClearBackground,
      *mnLoadPermeabilityMap;
  QMenu *mnModules, *mnPopulationBased, *mnIndividualBased, *mnGeometryBased;
  QAction *mnNewDemographic, *mnNewDemogenetic, *mnNewBigMatrix, *mnNewIBM, *mnNewHanski, *mnNewGraph;
  QAction *mnOpenModel, *mnSaveModel, *mnSaveModelAs;
  QMenu* mnSpecies;
  QAction *mnLoadSpecies, *mnSaveSpecies;
  QMenu* mnSimulations;
  QAction *mnInitialise, *mnRun;
  QMenu* mnPotentiality;
  QAction *mnOnTheFly, *mnPrecomputed, *mnShakyPosition, *mnMovingWindow;
  QMenu* mnHelp;
  QAction *mnAbout, *mnDevHistory, *mnTest, *mnTestingMode, *mnCreateraster;

  // -------------------------------------------------------- landscape pages
  QWidget* pnLandscape;  // everything that edits the landscape
  QTabWidget* pcLandscape;
  QWidget *tsPatches, *tsLinks, *tsSelection;
  QComboBox *cbPatchGeometry, *cbPatchSizes, *cbConnectance, *cbPermeability;
  QSpinBox *seNbPatch, *seWidth, *seHeight;
  QGroupBox* grpArea;
  QSpinBox *seMinArea, *seMaxArea, *sePropLargePatches;
  QLabel *lblMinArea, *lblMaxArea, *lblPropLargePatches;
  QGroupBox* grpIsolated;
  QSpinBox *seIsolatedPatchArea, *seIsolatedPatchDistance;
  QGroupBox* grpLandscapeFile;
  tLabeledEdit* edLandscapeFile;
  QPushButton* btLandscapeFile;
  QGroupBox* grpConnectance;
  tLabeledEdit* edDistanceThreshold;
  QSpinBox* seConnectance;
  QLabel* lblConnectance;
  tLabeledEdit *edSurvivalDistance, *edFixedSurvival, *edPermeabilityMap;
  QPushButton* btPermeabiliyMap;
  QGroupBox* grpSelectedPatch;
  QSpinBox *seID, *seX, *seY, *seArea, *seNewPatchArea;
  QPushButton* btRemovePatch;
  QPushButton *btMakeLandscape, *btPatchData;
  tLabeledEdit* edTotalArea;
  QCheckBox *ckComputeMetapop, *ckPotential, *ckShowID, *ckShowArea, *ckShowConnectivity;
  QLabel* lblLambda;
  QGroupBox* grpMetapopulation;
  QPushButton* btComputeMetCapManually;
  QCheckBox* ckPatchContribution;
  utile::gui::tGraphicChart* chSpace;  // the landscape chart

  // The controls that take the values of a batch landscape line, in component
  // order: Tag 1 for the landscape parameters, Tag 2 for the file names.
  tTaggedComponents TaggedComponents;

  // ---------------------------------------------------------------- fields
  std::vector<tModelForm*> fModels;  // open workbenches in creation order
  tModelForm* CurrentModel = nullptr;
  bool ModelChanged = false;
  int32_t SelCircle = -1;
  utile::tPalette MapPalette, ConnectPalette;  // colours of the drawing
  // One colour per patch and more; every index has a colour.
  models::tPatchColors PatchColor;
  // The background picture of the landscape chart, drawn over the study area
  // with its first row at the top (a null image: none is loaded).
  QImage Background;
  // The landscape chart's mouse: the buttons held, a double click whose
  // release has not come yet, the pointer in chart units and the offsets of a
  // drag (or the radius and start height of a resize).
  bool mLeft = false, mRight = false, DblClick = false;
  double MouseX = 0, MouseY = 0, dX = 0, dY = 0;
  // Set while the chart and the selected-patch controls are refilled: their
  // change events then do nothing.
  bool DrawingSpace = false;

  // ------------------------------------------------------------ operations
  // Visibility and enabling by the current choices, the testing mode, the
  // workbench list and the running workbenches.
  void Actualisation();
  // A new workbench: current, listed, shown.
  void AddNewModel(tModelForm* model);
  // Takes a closing workbench off the list (and off CurrentModel).
  void RemoveModel(tModelForm* model);
  // Creates the workbench of a model-menu item and captions it.
  tModelForm* NewModel(tWorkbenchKind kind);
  // Replaces how the workbenches of one kind are made.
  void SetWorkbenchFactory(tWorkbenchKind kind, tWorkbenchFactory factory);
  // Opens a model file by its first line.
  void OpenModelFile(const std::string& fileName);

  int32_t GetPatchCount() const;
  void SetTestingMode(bool on);
  void ToggleTestingMode();

  // The model-file dialogs.
  std::optional<std::string> ExecuteModelOpenDialog();
  std::optional<std::string> ExecuteModelSaveDialog();

  // True while a workbench runs: nothing may then change the landscape or free
  // a running model.
  bool AnyModelRunning() const;
  bool LandscapeLocked() const { return AnyModelRunning(); }
  // Refuses (EInvalidOperation) a landscape change while a workbench runs.
  void CheckLandscapeUnlocked() const;
  // Refuses (EInvalidOperation) a landscape change asked for by sender while
  // another workbench runs on the landscape.
  void CheckLandscapeFree(const tModelForm* sender) const;
  // True while a workbench other than sender runs.
  bool OtherModelRunning(const tModelForm* sender) const;

  // --------------------------------------------------------- the landscape
  void btMakeLandscapeClick();
  void ComputeConnectanceMatrix();
  void ChangePatches();
  void DrawSpace();
  void ComputeModel();
  // Colours the patches by one value each, from light to dark green.
  void ShowPatchValue(const utile::tVectorOfDouble& values);
  // The spans of the landscape chart's bottom and left axes.
  double SpaceRangeX() const;
  double SpaceRangeY() const;
  // A new patch count: new patch colours, and the colour generator restarted.
  void seNbPatchChange();
  void cbPermeabilityChange();
  // Removes the selected patch.
  void btRemovePatchClick();
  void LoadLandscapeFromFile();
  void LoadPermeabilityFromFile();
  // Asks for a permeability map and loads it (the "..." button beside its name).
  void btPermeabiliyMapClick();
  // Runs fill, which puts the values of a batch landscape line into the
  // controls: the controls then do not each make a landscape, the line's
  // rebuild makes one.
  void TakeLandscapeLineValues(const std::function<void()>& fill);
  // What a batch landscape line does once its values are in the controls:
  // reload the files in use, rebuild the links and make the landscape anew. A
  // file that cannot be loaded leaves the landscape and its file name as they
  // were before the line.
  void RebuildLandscape(tModelForm* sender);

  // ------------------------------------------------ landscape files and maps
  // "&Load patch file..." and the landscape file's "...": the file is read whole
  // before anything changes; then its name, the "From file" layout, the patch
  // database's "Loaded from file", the landscape and the generator.
  void Loadpatchfile1Click();
  // "&Save patch file...": asks before replacing a file; distances that came
  // from a landscape file are saved with the patches.
  void Savepatchfile1Click();
  void mnuLoadBackgroundClick();
  void mnuClearBackgroundClick();
  // "Connection &profiles...": the profiles of the permeability map in a window.
  void mnConnectivityHistogramClick();
  // ResultMap as a raster named FileName with "%d" as RunNumber (models::WriteMap).
  void WriteMap(double MinX, double MaxX, double MinY, double MaxY, int32_t Columns, int32_t Rows,
                const std::string& FileName);
  // AggregatedPatches and AggregateComposition on a grid of side
  // Param.GridResolution anchored at the landscape chart's axes (models::ExtractPatches).
  void ExtractPatches(const models::tParam& Param);
  // One matrix per sorted distinct value of Map (models::ConnectionProfiles).
  std::vector<utile::tMatrixOfDouble> ConnectionProfiles();
  std::vector<utile::tMatrixOfDouble> ConnectionProfiles(const utile::tVectorOfDouble& Values);

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildLandscapePages();
  void BuildTaggedComponents();
  void ConnectHandlers();
  void ConnectLandscapeFileHandlers();
  // Runs a menu command; a failure is shown in a message box.
  void Guarded(const std::function<void()>& command);
  void TryPendingClose();
  void TestClick();

  // The landscape chart.
  models::tLandscapeSettings LandscapeSettings() const;
  bool CapacityCoversPatches() const;
  void SelectPatch(int32_t index);
  void ClearSelection();
  void FillSelectedPatchControls();
  // The mean survival distance and the fixed survival typed in, put in force.
  void ReadPermeabilityEdits();
  void SelectedPatchEdited(double models::tCircle::*field, const QSpinBox* control);
  void PermeabilityEditUsed();
  void chSpaceMouseDown(Qt::MouseButton button, const QPointF& pixel);
  void chSpaceMouseMove(const QPointF& pixel);
  void chSpaceMouseUp();
  void chSpaceDblClick(const QPointF& pixel);
  // The value map and the links in chart units, made by each redraw.
  void BuildValueMap();
  void BuildLinks();
  // Draws the value map again and repaints the chart.
  void RepaintSpace();
  void PaintSpaceLayers(QPainter& painter, const utile::gui::tGraphicChart& chart) const;
  // A redraw that a control asks for, unless the landscape sequence that is
  // running redraws anyway.
  void RedrawForControl();

  // Landscape files and maps.
  void CommitLandscapeFile(models::tLandscapeFile file);
  std::optional<std::string> ExecuteMapOpenDialog(const std::string& title);
  // Sets the study area's extent without a redraw for each control.
  void SetStudyArea(int64_t width, int64_t height);
  // The file names in force before the batch landscape line being executed.
  std::optional<QString> fLineLandscapeFile, fLinePermeabilityMap;

  utile::gui::tBubbleSeries* fSpaceSeries = nullptr;
  utile::gui::tChartLayer* fSpaceLayer = nullptr;
  // The links to draw by their entry of ConnectPalette, as pairs of patches.
  struct tLinkEnds {
    int32_t From, To;
  };
  std::vector<std::vector<tLinkEnds>> fLinks;
  size_t fLinkCount = 0;
  uint64_t fLinkRevision = 0;
  // Many links are drawn once into a picture of the plot area, which the
  // paintings reuse until the links, the axes or the plot area change.
  struct tLinkPictureKey {
    uint64_t Revision = 0;
    QRect PlotArea;
    double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
    bool operator==(const tLinkPictureKey&) const = default;
  };
  mutable QImage fLinkPicture;
  mutable tLinkPictureKey fLinkPictureKey;
  QImage fValueMap;        // null: no value map
  QRectF fValueMapExtent;  // in chart units
  int fFillingLandscapeLine = 0;
  int fDeferredRedraws = 0;
  // Holds back the redraws that control changes ask for while it lives.
  class tDeferredRedraws {
   public:
    explicit tDeferredRedraws(TdlgVandrel* main) : fMain(main) { ++fMain->fDeferredRedraws; }
    ~tDeferredRedraws() { --fMain->fDeferredRedraws; }
    tDeferredRedraws(const tDeferredRedraws&) = delete;
    tDeferredRedraws& operator=(const tDeferredRedraws&) = delete;

   private:
    TdlgVandrel* fMain;
  };
  // A right press on a patch starts a resize, not the chart's menu.
  bool fMenuRefused = false;
  // The patches changed while a mouse button was held on the chart.
  bool fPatchesChangedInDrag = false;

  std::array<tWorkbenchFactory, 5> fFactories;
  bool fClosePending = false;
  QTimer* fCloseTimer = nullptr;
};

// The main window made at start-up.
extern TdlgVandrel* dlgVandrel;

// The workbench versions shown in their captions.
const char* WorkbenchVersion(tWorkbenchKind kind);

}  // namespace vandrel
