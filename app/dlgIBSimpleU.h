// The individual-based workbench: the species parameters, the life cycle drawn
// as a graph of event cells, the spatial, simulation and genetics settings, the
// results pages and the model file. The cells themselves, their numbering and
// the check of the drawn cycle are models::tEventCells; this window draws them,
// turns the mouse gestures into edits and keeps one parameter box per cell.
// Initialise turns the controls and the landscape into a ready metapopulation,
// Run runs it step by step into the result charts, and the connectivity
// functions let the landscape chart draw the links the model sees.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Utile/vxMaxMem.h"
#include "app/ModelForm.h"
#include "app/SensitivityPage.h"
#include "models/EventCells.h"
#include "models/IBPedigreeAnalysis.h"
#include "models/IBBatch.h"
#include "models/MetapopIBM.h"
#include "models/PedigreeOps.h"

class QAction;
class QBoxLayout;
class QBarSeries;
class QBarSet;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTableWidget;
class QTabWidget;

namespace utile::gui {
class tGraphicChart;
class tLineSeriesSet;
struct tLineStyle;
}  // namespace utile::gui

namespace vandrel {

class TdlgIBSimple;

// The paint area of the life cycle: it shows the cells and their links and hands
// the mouse on to the workbench.
class tLifeCycleArea : public QWidget {
  Q_OBJECT
 public:
  explicit tLifeCycleArea(TdlgIBSimple* owner, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  TdlgIBSimple* fOwner;
};

// What the window shows of one cell: its picture and its parameter box.
struct tEventCellControls {
  QPixmap BitMap;
  QGroupBox* Parameters = nullptr;  // "Event %d: %s"
  QLineEdit* Param1 = nullptr;      // nullptr when the cell's type has no such parameter
  QLineEdit* Param2 = nullptr;
  QComboBox* Param3 = nullptr;
};

class TdlgIBSimple : public tModelForm {
  Q_OBJECT
 public:
  explicit TdlgIBSimple(TdlgVandrel* mainWindow);
  ~TdlgIBSimple() override;

  // ------------------------------------------------------------ pages
  QTabWidget* pcIBSimple;
  QWidget *tsLifeCycle, *tsSpatialDisplay, *tsSimulations, *tsGenetics, *tsResults;

  // Life cycle: the species
  QGroupBox* grpSpecies;
  tLabeledEdit *edName, *edDate, *edSexRatio, *edTerritoryArea, *edAutofecondation, *edJuvenileWeight;
  QComboBox* cbReproductionMode;
  QLabel* lblReproductionMode;
  QCheckBox *ckPatchExtinction, *ckPatchSuitability;
  QPushButton* btApply;
  // Life cycle: the drawing
  QWidget* pnEventButtons;
  std::array<QAction*, 13> acNewEvent{};  // by event type (none for the end event)
  QScrollArea* sbLifeCycle;
  tLifeCycleArea* pbLifeCycle;
  QWidget* pnEventParameters;   // the cells' parameter boxes
  QPlainTextEdit* mmLifeCycle;  // the findings of the last check

  // Spatial display
  QWidget* pnSpatialSettings;  // what re-initialises the model
  tLabeledEdit *edDispersalDistance, *edTestDispersalProb, *edExpImmigrationProb;
  QSlider* tbTestDispersalProb;
  QGroupBox* grpConnectivity;
  QRadioButton *rbDistance, *rbConnectivity, *rbDispersalProbability, *rbTest, *rbDispersalEvents;
  QRadioButton *rbDispersal, *rbFst, *rbFst2, *rbAutocorrelation;  // hidden
  QComboBox* cbDispersalEvent;
  QPushButton* btApplyComputeMatrices;
  QPushButton* btPatchData;
  QPushButton* btTest;  // testing mode
  QGroupBox* grpBackwardDispersal;
  QPlainTextEdit* mmBackwardDispersal;
  QPlainTextEdit* mmModel;  // the model's description

  // Simulations
  QSpinBox *seNbTimeSteps, *seExtinctionThreshold, *seTimeStepLength, *seMaxIndividuals, *seExplosion;
  QGroupBox* grpInitialConditions;
  QRadioButton *rbAbundanceK, *rbAbundanceFixed, *rbAge0, *rbRandomAges;
  QSpinBox* seInitialAbundance;
  QTableWidget* sgGenes;
  QGroupBox* grpRandomGenerator;
  QSpinBox *seSeed1, *seSeed2;
  QGroupBox* grpOutput;
  QCheckBox *ckRealTimeGraph, *ckIndividualMoves, *ckPedigree, *ckJuveniles, *ckAdults, *ckF, *ckTheta,
      *ckAlpha, *ckFinalValues, *ckClearTextOutput, *ckPatchOccupancy, *ckCountTags;
  tLabeledEdit* edMutationRate;
  QPushButton *btRecomputePedigree, *btFreeMemory;
  QGroupBox* grpDisplay;  // "Text display": the pedigree's texts
  QPushButton *btTestPedigree, *btShowRelMat;

  // Genetics
  QSpinBox *seNbLoci, *seNbAlleles, *seSamplingProbabilityJuvenile, *seSamplingProbabilityAdult;
  tLabeledEdit *edKAMrate, *edSSMrate;
  QGroupBox* grpSampling;
  QPushButton* btDisplayGenome;

  // Results: the age class shown, then one page per chart
  QRadioButton *rbJuveniles, *rbAdults, *rbAllAgeClasses;
  QCheckBox* ckShowGlobal;
  QTabWidget* pcResults;
  QWidget *tsAbundances, *tsTags, *tsPatchOccupancy, *tsSexRatio, *tsFixations, *tsCoancestries, *tsAlpha,
      *tsTextOutput;
  utile::gui::tGraphicChart *chAbundances, *chTags, *chPatchOccupancy, *chSexRatio, *chFixations,
      *chCoancestries, *chAlpha;
  QPlainTextEdit* mmOutput;

  // Output options of the batch simulations
  QWidget* tsOutputOptions;
  QGroupBox* grpOutputStatistics;
  QCheckBox *ckSensAbundances, *ckSensF, *ckSensTheta, *ckSensAlpha, *ckSensJuveniles, *ckSensAdults,
      *ckSensCapacities, *ckSensOccupancy, *ckSensExtinctionTime, *ckSensTags, *ckSensDispersalEvents,
      *ckSensDistanceMat, *ckSensConnectanceMat, *ckSensPermeabilityMat, *ckSensConnectionProfiles,
      *ckSensNuclear, *ckSensMitochondrial, *ckSensX, *ckSensY, *ckSensFstat, *ckSensGenPop,
      *ckSensAlleleFreq, *ckSensSeparateSexes;
  QSpinBox *seNbGenomes, *seMemoryDefragmentation;

  // Run
  QAction *acRun, *acInitialise, *acStop;
  QPushButton *btInitialise, *btRun, *btStop, *btRunBatch;
  QLabel* lblTask;
  QProgressBar *ggTask, *ggMemory;  // the memory gauge in megabytes
  QPlainTextEdit* mmLog;

  // ------------------------------------------------------------ fields
  // The drawn cells (the first is the Birth cell made with the window), their
  // depth-first order and the selected one.
  models::tEventCells fEventCells;
  bool ABCLandscapes = false;
  // n x n: the kernel times the links, zero diagonal, columns summing to 1.
  utile::tMatrixOfDouble ConnectivityMat;
  // n x n, symmetric: exp(-d_ij / D).
  utile::tMatrixOfExtended ExpaDij;
  // The pedigree's dispersal events of the last run, diagonal 0, largest 1.
  utile::tMatrixOfDouble fDispersalEvents;
  bool Closing = false;
  std::unique_ptr<utile::TvxMaxMem> MemoryManager;
  std::unique_ptr<models::tMetaPop> Metapop;
  std::unique_ptr<models::tGeneticPedigree> GeneticPedigree;  // nullptr when none

  // The series of the result charts by their place in the layout: triples 3k
  // (juveniles), 3k+1 (adults), 3k+2 (all) with k = 0 for the metapopulation
  // and k = ID for a patch; Alpha: triple 0, then one per pair of patches.
  std::unique_ptr<utile::gui::tLineSeriesSet> AbundanceSeries, TagSeries, SexRatioSeries, FixationSeries,
      CoancestrySeries, AlphaSeries;
  QBarSeries* OccupancyBars = nullptr;

  // ------------------------------------------------------------ the model form
  void FormClose() override;
  void FormActivate() override;
  double GetAlpha() override;
  // Builds the model on the landscape's patches from the controls and the
  // checked life cycle. Refused while the model runs; a territory area that
  // gives no capacity is refused before anything changes.
  void Initialise() override;
  // Runs the initialised model step by step into the charts; refused while not
  // ready (no correct cycle initialised since the last change that requires one).
  void Run() override;
  void ShowModel() override;
  bool HasModelFile() const override { return true; }
  // Reads the whole file first: a bad one leaves the workbench as it was.
  void OpenModel(const std::string& FileName) override;
  void SaveModel() override;

  // ------------------------------------------------------------ the life cycle
  // The action of a new-cell button.
  void OnNewEventCell(models::tLifeEventType type);
  // The parameter box of the cell (nullptr for a cell the window does not show).
  tEventCellControls* CellControls(const models::tEventCell* cell);
  void OnSelectCell(models::tEventCell* cell);
  // Ctrl+click: removes the cell (never the Birth cell).
  void RemoveCell(models::tEventCell* cell);
  void OnChangeEventParameter(models::tEventCell* cell);
  // Numbering and captions, parameter boxes, tagged controls and buttons in step
  // with the cells.
  void SortEventCells();
  void UpdateEventCells();
  // The check, shown in the cycle memo.
  bool BuildCycle(std::string& messages, models::tLifeCycle& cycle);
  void CheckCycle();
  void btApplyClick();
  void Actualisation();

  // ------------------------------------------------------------ initialisation and run
  // The kernel and connectivity matrices of the landscape.
  void ComputeMatrices();
  void acInitialiseExecute();
  void acRunExecute();
  void acStopExecute();
  // Empty result series laid out for the model's patches, and the text output.
  void InitialiseSimulations();
  void OnChangeAgeClass();
  // The pedigree read back date by date after a run: population sizes, F, theta
  // and alpha drawn into the result charts and summarised in the text output.
  // Stop ends it between two dates, without the summary.
  void AnalysePedigree();
  void MakeDispersalEventList();
  // A successful Initialise makes the model ready to run; a failed one, or
  // freeing the pedigree, takes that back.
  bool Ready() const { return fReady; }
  // Whether the model is on the stack (a step or an analysis runs).
  bool ModelInUse() const { return fModelInUse > 0; }

  // ------------------------------------------------------------ connectivity
  double DispersalDistance(int32_t i, int32_t j);
  double DispersalProbability(int32_t i, int32_t j);
  double DispersalTest(int32_t i, int32_t j);
  double DispersalEvents(int32_t i, int32_t j);
  void OnChangeConnectivityMatrix();
  void tbTestDispersalProbChange();

  // ------------------------------------------------------------ other handlers
  void ckPedigreeClick();
  void ckJuvenilesClick();
  void btPatchDataClick();
  void btFreeMemoryClick();
  void btTestClick();
  void RefreshMemoryGauge();
  // The width of the visible drawing area, within which cells are unstacked.
  int AreaWidth() const;

  // ------------------------------------------------------------ drawing-area gestures
  void sbLifeCycleMouseDown(QPoint position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
  void sbLifeCycleDragOver(QPoint position, Qt::KeyboardModifiers modifiers);
  void pbLifeCycleMouseUp(QPoint position);
  void pbLifeCycleClick(QPoint position);
  void sbLifeCycleDragDrop(models::tEventCell* cell, QPoint position);
  void sbLifeCycleResize();
  void pbLifeCyclePaint(QPainter& painter);
  // The cursor over the area: the cross while Ctrl is held over a cell.
  void UpdateAreaCursor(QPoint position, Qt::KeyboardModifiers modifiers);
  // The tool tip of the cell under the point: what its parameters read as.
  QString CellHint(QPoint position) const;
  // Whether a right-drag draws a link right now.
  bool Linking() const { return fLinking; }

  // ------------------------------------------------------------ pedigree and genetics displays
  // Simulations page: how juveniles are sampled, the analysis step (hidden), the
  // text displays of the pedigree and the equilibrium statistics.
  QRadioButton *rbTransversal = nullptr, *rbLongitudinal = nullptr;
  QSpinBox* seTimeResolution = nullptr;
  QLabel* lblTimeResolution = nullptr;
  QPushButton *btShowPedigree = nullptr, *btShowPositions = nullptr, *btDispersalEventMatrix = nullptr,
              *btLastDispersalEvents = nullptr;
  QGroupBox* grpEquilibrium = nullptr;
  QSpinBox* seEquilibriumSteps = nullptr;
  QCheckBox *ckDemographicContribution = nullptr, *ckGeneticContribution = nullptr;
  QPushButton* btComputeEquilibrium = nullptr;
  // Genetics page: the genomes generated along the pedigree and their outputs.
  QGroupBox *grpGenome = nullptr, *grpSimulateGenetics = nullptr, *grpGenomeOutput = nullptr;
  QPushButton *btNuclearGenome = nullptr, *btMitochondrialGenome = nullptr, *btXChromosomeGenome = nullptr,
              *btYChromosomeGenome = nullptr;
  QCheckBox* ckPrunePedigree = nullptr;
  QRadioButton *rbAllGenomes = nullptr, *rbFstat = nullptr, *rbAlleleFrequencies = nullptr,
               *rbGenePop = nullptr, *rbPairwiseFst = nullptr, *rbCoancestries = nullptr;

  // Whether the model keeps a pedigree (the displays need one).
  bool HasPedigree() const { return Metapop && Metapop->Pedigree(); }
  // One date of a vector: series 3i + ageClass gets (t, value i), a gap where the
  // value is negative (no individual of the class); then messages go through.
  template <class tValue>
  void AddPoints(utile::gui::tLineSeriesSet& series, double t, const std::vector<tValue>& values,
                 int32_t ageClass);
  // The analysis again (also after a failure: the log line and the idle task).
  void btRecomputePedigreeClick();
  // Replaces the pedigree by two founders and five generations of full sibs and
  // shows their relationship matrix; the model must be initialised again to run.
  void btTestPedigreeClick();
  void btShowRelMatClick();
  void btShowPedigreeClick();
  void btShowPositionsClick();
  void btDispersalEventMatrixClick();
  void btLastDispersalEventsClick();
  void btComputeEquilibriumClick();
  // Genomes along the pedigree, by the genome button pressed.
  void MakeGenome(QPushButton* sender);
  // The kinds of genome in file-prefix order: the button that makes one, the box
  // that has a batch make it, and how it is made.
  struct tGenomeKind {
    QPushButton* Button;
    QCheckBox* Batch;
    void (models::tGeneticPedigree::*Make)();
  };
  std::array<tGenomeKind, 4> GenomeKinds() const;
  // The loci, alleles and mutation rates of the controls handed to the genetic pedigree.
  void SetGenomeParameters();
  void ckPrunePedigreeClick();
  void btDisplayGenomeClick();
  void DisplayAllGenomes();
  void DisplayFstatOutput();
  void DisplayGenePopOutput();
  void DisplayAlleleFrequencies();
  void DisplayCoancestries();
  void DisplayPairwiseFst();
  // ------------------------------------------------------------ batch pages and batch simulations
  // "Sensitivity analysis": a value list per slot of a landscape line (the main
  // window's tagged controls) and of a simulation line (the values the base
  // Simulation hands out, in its order), the batch memo and its commands. The
  // ABC page draws each slot from a prior into the same memo. Apply rebuilds
  // both; they hide from any change of the slots until then.
  QWidget* tsOptions = nullptr;  // the batch's settings: seMemoryDefragmentation
  tSensitivityPage* tsSensitivity = nullptr;
  QPushButton* btAbortSensitivity = nullptr;
  QProgressBar* ggBatchProgress = nullptr;
  QLabel* pnStatusBar = nullptr;  // the stage of the batch simulation
  QWidget* tsABC = nullptr;
  QTableWidget *sgABCLandscape = nullptr, *sgABCParameters = nullptr;  // one prior per slot
  QSpinBox *seABCSimulations = nullptr, *seABCSeed1 = nullptr, *seABCSeed2 = nullptr;
  QCheckBox* ckABCLandscapes = nullptr;
  QPushButton *btMakeABCBatch = nullptr, *btAppendABCBatch = nullptr;
  std::string BatchResultFile;  // the result file without its extension: the base of the side files
  uint64_t SimID = 0;           // rows and side files carry SimID - 1

  // One value of a batch line: its value list's entry (the control that takes
  // it, how the list is captioned), the row of a string grid for the genes, and
  // what values it takes.
  struct tBatchSlot {
    tSensitivityEntry Entry;
    int Row = -1;        // of a string grid
    bool Whole = false;  // spin edits and item indices
    double Lowest = -1.7e308, Highest = 1.7e308;
  };
  std::vector<tBatchSlot> LandscapeSlots() const;
  std::vector<tBatchSlot> LifeCycleSlots() const;
  static std::string SlotText(const tBatchSlot& slot);
  // A spin edit's slot takes whole values within its range.
  static void SetWholeLimits(tBatchSlot& slot);

  // Refuses a spin-edit value beyond its range (the framework reports it); any
  // other failure, in the base Simulation as in RunSensitivity, becomes the
  // line's error line and the batch goes on.
  void Simulation(const std::string& Line) override;
  void WriteHeaders() override;
  void RunSensitivity() override;
  // Reads what an existing result file holds, for a batch that appends to it.
  void RunBatch(const std::vector<std::string>& Lines, const std::string& FileName,
                bool RewriteHeaders) override;
  void SaveToFile(const std::string& suffix, const std::string& text);
  void SaveGenomeFiles(const std::string& prefix);
  void DisplayBatchStep();
  void OnOutputOptionsChange();
  void RebuildBatchPages();
  void btRunBatchClick();
  void btAbortSensitivityClick();
  void btMakeABCBatchClick();
  void btAppendABCBatchClick();
  // The lines of the ABC page's priors.
  std::vector<std::string> ABCLines() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLifeCyclePage();
  void BuildSpatialPage();
  void BuildSimulationsPage();
  void BuildGeneticsPage();
  void BuildResultsPage();
  void BuildOutputOptionsPage();
  void BuildRunBar();
  void BuildTaggedComponents();
  void ConnectHandlers();
  void AddCellControls(models::tEventCell* cell);
  void RemoveCellControls(const models::tEventCell* cell);
  void FreeCellControls();
  void ChangeDisplay(const models::tEventCell* cell);
  void AdjustAreaSize();
  void ChangeApplied();
  void OnParameterChange();
  models::tReproductionMode ReproductionMode() const;
  double JuvenileWeight() const;
  // A handler's failure is shown, and the window goes on.
  void Guarded(const std::function<void()>& command);
  void Log(const std::string& line);
  void SetReady(bool ready);
  // What rebuilds or frees the model is disabled while the workbench runs.
  void UpdateRunControls();
  // Refuses a user's edit of the drawn cycle while the workbench runs.
  bool CellEditsLocked() const { return IsRunning(); }
  void RunSimulation();
  // The counts after the step of time t, charted at t.
  void ChartStep(double t, bool moves, bool tags);
  void ShowPatchOccupancy();
  void SetPedigreeAges();
  models::tEventCell* ChosenDispersalCell() const;
  QColor PatchColour(int32_t index) const;
  void OnSensAgeClassClick(QCheckBox* sender);
  void OnSensGenomeOutputClick(QCheckBox* sender);
  // The triples of a result chart for the model's patches (pairs: Global and the pairs of patches).
  std::vector<utile::gui::tLineStyle> ResultTriples(bool pairs) const;

  // The pedigree and genetics displays.
  QWidget* BuildSamplingChoice(QWidget* parent);
  void AddTextDisplayButtons(QBoxLayout* layout);
  QGroupBox* BuildEquilibriumBox(QWidget* parent);
  void ConnectPedigreeHandlers();
  // Whatever reads the pedigree is disabled without one and while the workbench runs.
  void UpdatePedigreeControls();
  models::tPedigree& RequirePedigree() const;
  models::tSamplingScheme SamplingScheme() const;
  // The result series that the analysis draws into, laid out where missing, emptied.
  void PrepareAnalysisSeries();
  void DrawAnalysisPass(const models::tPedigreeAnalysis& analysis);
  void DisplayLastGeneration(models::tLastGenerationOutput output);
  void AppendOutput(const utile::tVectorOfString& lines);

  // The batch pages and batch simulations.
  void BuildBatchPages();
  void BatchSlotsChanged();
  void UpdateBatchRunControls();
  void BatchStep(const std::string& step);
  models::tIBBatchColumns BatchColumns(int32_t patchCount) const;
  void WriteHeaderLine(const models::tIBBatchColumns& columns);
  void WriteLandscapeFiles();
  void RunBatchSimulation(models::tIBBatchRow& row);
  void GatherDemography(models::tIBBatchRow& row, const utile::tVectorOfDouble& occupancy);
  void GatherPedigreeStatistics(models::tIBBatchRow& row);
  void GenerateGenomes();
  // The controls of the genetics page that the batch reads.
  bool LongitudinalSampling() const;
  bool PrunePedigreeChecked() const;
  void FillPriorTable(QTableWidget* table, const std::vector<tBatchSlot>& slotList,
                      std::vector<models::tIBPrior>& priors);
  std::vector<models::tIBPrior> ReadPriors(const QTableWidget* table,
                                           const std::vector<models::tIBPrior>& priors) const;
  models::tIBResultFileState fResultFileState;  // of the file that the running batch appends to
  utile::tVectorOfString fHeaderInForce;        // the last header line of the result file
  bool fBatchStarting = false;                  // no row of the running batch yet
  int64_t fLandscapeOffset = 0;                 // landscape numbers already in an appended file
  std::vector<models::tIBPrior> fLandscapePriors, fParameterPriors;  // the slots of the prior tables

  std::unordered_map<const models::tEventCell*, tEventCellControls> fCellControls;
  bool fUpdatingControls = false;  // the window itself writes the parameter boxes
  bool fReady = false;
  int32_t fModelInUse = 0;
  bool fChartsFollowModel = false;      // the charts hold the runs of the model since its Initialise
  bool fInRunLoop = false;              // the steps of a run go on
  bool fStoppedByUser = false;          // Stop ended the steps of the run
  bool fDisplayEnabled = false;         // grpDisplay, when the workbench does not run
  utile::Extended fLargestExpaDij = 0;  // of the last kernel
  double fTestDispersalProb = 1.0;      // edTestDispersalProb as read
  // Mouse gestures: a left-drag moves fDragCell, a right-drag links from it.
  models::tEventCell* fDragCell = nullptr;
  QPoint fPressPosition;
  QPoint fMousePosition;
  bool fMoving = false;
  bool fLinkPending = false;
  bool fLinking = false;
  models::tCellLink fLinkKind = models::tCellLink::clNext;
};

}  // namespace vandrel
