// The workbench of the simple demographic model. It has no time-stepping model:
// it reads the landscape parameters into a tParam, keeps the capacity of the
// shared landscape up to date, and on its Run button runs one of three analyses
// of the landscape (the capacity a new patch would add at each point of a grid,
// the equilibrium size with each patch's contribution and sensitivity, or the
// contribution of a new patch to colonisation). Each fills the result grid that
// the main window draws over the landscape or writes as a raster, and lists its
// per-patch values in the result memo. Its sensitivity page runs the same
// analyses in batches.
#pragma once

#include <string>
#include <vector>

#include "app/ModelForm.h"
#include "models/MetapopCommon.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace vandrel {

class tSensitivityPage;

// The analyses of the Run button, in the order of their list.
enum tSimpleDemoAnalysis { saRareSpeciesPersistence = 0, saMetapopulationSize = 1, saConnectivity = 2 };

// The per-patch values of one analysis, one list per column of its result table,
// each with one value per patch of the landscape.
struct tPatchResults {
  utile::tVectorOfDouble Columns[3];
};

class TdlgSimpleDemoModel : public tModelForm {
  Q_OBJECT
 public:
  explicit TdlgSimpleDemoModel(TdlgVandrel* mainWindow);

  // ------------------------------------------------------------ pages
  QTabWidget* pcModel;
  QWidget *tsParameters, *tsModel, *tsResults, *tsSensitivity;

  // Parameters
  QGroupBox* grpParameters;
  tLabeledEdit *edTerritory, *edRange, *edColonisation, *edEmigScalFact, *edZetaImmigFact, *edExtinction,
      *edExtScalFact, *edNewPatchArea, *edAutocorrelation, *edAutocorreIationIntercept;
  // Patch Aggregation and Bootstraping (testing mode only)
  QGroupBox* GroupBox8;
  QCheckBox *cbAggregation, *cbBootstrapping;
  tLabeledEdit *edGridResolution, *edPerCentBootstrapping;
  QLabel* Label3;
  QSpinBox* seIterations;
  // Type of Analyses
  QGroupBox* grpAnalyses;
  QLabel* lblAnalysesType;
  QComboBox* cbAnalysesType;
  QLabel* lbTypeOfMap;
  QRadioButton *rbInterface, *rbSaveToIdrisi;
  QPushButton *btRun, *btApply;
  QGroupBox* grpMapOutput;
  tLabeledEdit *edMinX, *edMaxX, *edMinY, *edMaxY;
  QLabel *lblColumns, *lblRows;
  QSpinBox *seColumns, *seRows;
  QLineEdit* edMapFileName;
  QPushButton* btCopyFromMap;
  QCheckBox* cbMask;
  // Results of the Run button
  QLabel* lblResults;
  QPlainTextEdit* mmResults;
  // Never shown
  QGroupBox* grpMetadata;
  tLabeledEdit* edModelName;
  QGroupBox* grpDisplayedConnectivity;
  QRadioButton *rbDistance, *rbDispersal;
  QWidget* tsHiddenResults;  // the results page's own page, which nothing uses
  // Model
  QPlainTextEdit* mmmModel;
  // Sensitivity analysis
  tSensitivityPage* SensitivityPage;
  QRadioButton *rbAsParametersPage, *rbSecifieAnalyses;
  QCheckBox *cbRareSpecies, *cbMetapopSize, *cbmetapopConnect;

  QAction *acRun, *acInitialise;

  // ------------------------------------------------------------ overrides
  models::tParam GetParam() override;
  bool HasGetParam() const override { return true; }
  double GetAlpha() override;
  double GetTerritory() override;
  void Initialise() override;
  void Run() override;
  void ShowModel() override;
  void FormClose() override;
  void FormActivate() override;
  void Simulation(const std::string& Line) override;
  void WriteHeaders() override;
  void RunSensitivity() override;
  void InitialiseGraphs() {}

  // ------------------------------------------------------------ connectivity
  // The link weight of the landscape chart: exp(-alpha d) between two patches,
  // 1 for a patch with itself.
  double Dispersal(int32_t i, int32_t j);
  void ChangeConnectivityMatrix();

  // ------------------------------------------------------------ analyses
  // Each leaves its results in the landscape's result globals; with the
  // interface mode on a 100 x 100 grid over the landscape chart, otherwise on
  // the map grid of the page, the capacity and connectivity maps then written
  // as rasters. They let messages through, and show where they stand in the
  // result memo: call them while the workbench runs (the Run button and the
  // batch do), which locks the landscape and the parameters; clearing the
  // running flag (Stop, a close) ends them with models::EAnalysisStopped.
  void RunRareSpeciesPersitence(const models::tParam& Param, const models::tArrayOfCircles& Patches);
  void RunMetapopulationSize(const models::tParam& Param, const models::tArrayOfCircles& Patches);
  void RunContributionToColonisation(const models::tParam& Param, const models::tArrayOfCircles& Patches);

  // ------------------------------------------------------------ events
  void ApplyParameterChanges();
  void edRangeChange();
  void edModelNameChange();
  void cbAggregationClick();
  void cbBootstrappingClick();
  void cbAnalysesTypeChange();
  void rbSaveToIdrisiClick();
  void rbInterfaceClick();
  void btCopyFromMapClick();
  void btRunClick();
  void rbAsParametersPageClick();
  void rbSecifieAnalysesClick();
  void btRunBatchClick();

 private:
  void BuildParametersPage();
  void BuildSensitivityPage();
  void ConnectHandlers();
  // Runs a handler; a failure is shown in a message box.
  void Guarded(void (TdlgSimpleDemoModel::*handler)());
  // The analysis's results for the patches of the landscape: spread from the
  // aggregates when Aggregated, else the result globals themselves.
  tPatchResults ResultsOf(tSimpleDemoAnalysis analysis, bool Aggregated) const;
  // Runs one analysis on the landscape, or on its aggregates (made by the main
  // window first, from the parameters read anew, when MakeAggregates), and
  // returns its results per patch.
  tPatchResults RunAnalysis(tSimpleDemoAnalysis analysis, models::tParam Param, bool Aggregated,
                            bool MakeAggregates);
  void RunOn(tSimpleDemoAnalysis analysis, const models::tParam& Param,
             const models::tArrayOfCircles& Patches);
  // The progress of an analysis: its stages in the result memo, and the
  // running flag asked whether to go on.
  models::tAnalysisProgress AnalysisProgress(tSimpleDemoAnalysis analysis);
  void ShowProgress(tSimpleDemoAnalysis analysis, models::tAnalysisStage stage, int32_t done, int32_t count);
  void AnalysisDone();
  void FillResults(tSimpleDemoAnalysis analysis, const tPatchResults& results, bool padded);
  // The grid of the interface mode: the landscape chart's axis ranges.
  void ChartExtent(double& MinX, double& MaxX, double& MinY, double& MaxY) const;

  // The result file, one piece at a time: whether the row has begun.
  void WriteField(const std::string& text);
  void WriteNumber(double value);
  void WriteNumbers(const utile::tVectorOfDouble& values);
  // The fields that one analysis adds to a result row.
  void WriteAnalysisFields(tSimpleDemoAnalysis analysis, const tPatchResults& results);
  void EndRow();
  bool fRowOpen = false;

  int fLastPage = 0;
  // An analysis is on the stack: the capacity it may be reading is not recomputed.
  bool fAnalysing = false;
  // What the result memo shows of the analysis in progress.
  struct tShownProgress {
    int32_t Analysis = -1;
    models::tAnalysisStage Stage = models::tAnalysisStage::asEquilibrium;
    int32_t Percent = -1;
  } fShownProgress;
  QWidget* fBatchAnalyses = nullptr;  // which analyses a simulation line runs
  bool fInBatch = false;
};

}  // namespace vandrel
