// The workbench of the patch matrix model: it fills the model from its controls
// and the landscape, runs it step by step while charting the patch sizes and the
// genetic statistics, reports the equilibrium effective size and the isolation
// by distance, offers five connectivity functions for the landscape chart, and
// runs batches that write one row of statistics per run.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPointF>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "app/ModelForm.h"
#include "models/MetapopMatrixModel.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScatterSeries;
class QSpinBox;
class QTabWidget;
class QXYSeries;

class QPainter;

namespace utile::gui {
class tChartLayer;
class tGraphicChart;
}  // namespace utile::gui

namespace vandrel {

class tSensitivityPage;

class TdlgMatrixModel : public tModelForm {
  Q_OBJECT
 public:
  explicit TdlgMatrixModel(TdlgVandrel* mainWindow);
  ~TdlgMatrixModel() override;

  // ------------------------------------------------------------ the pages
  QTabWidget* pcMatrixModel;
  QWidget *tsParameters, *tsModel, *tsResults;
  tSensitivityPage* tsSensitivity;

  // Parameters, in component order.
  tLabeledEdit *edSurvival, *edFecundity, *edTerritory, *edRange, *edDispersal, *edMigrationRate, *edMu,
      *edDemographicRisk, *edLocalRisk, *edRegionalRiskMean, *edRegionalRiskRange, *edMinCorr;
  QRadioButton *rbEi, *rbEsurN;
  QComboBox *cbFecundityType, *cbGrowthType;
  QLabel *lblFecundityType, *lblGrowthType;
  tLabeledEdit *edIntercepte, *edFlatness;
  QSpinBox* seTimeSteps;
  QCheckBox* ckmHeavyRun;
  QSpinBox *semSeed1, *semSeed2;
  QGroupBox* grpConnectivity;  // "Displayed connectivity", hidden
  QRadioButton *rbDispersal, *rbFst, *rbDistance, *rbFst2, *rbAutocorrelation;
  QGroupBox* grpMetadata;  // hidden
  tLabeledEdit* edModelName;
  QSpinBox *seDeltaNe, *semMinSat, *semInitialDensity;
  QCheckBox* ckmRealTimeGraph;
  QPushButton* btApply;
  QAction *acRun, *acInitialise;

  // Model and results.
  QPlainTextEdit* mmmModel;
  utile::gui::tGraphicChart *chmDensity, *chmCoancestry, *chmFixation, *chmEffectiveSize, *chMeanNe, *chmFis,
      *chmFst, *chmConnectivity;
  QLabel *Label17, *Label18, *Label19;
  QSpinBox* seAveragingWindow;
  QCheckBox* ckmActualSize;
  QRadioButton *rbmFisBefore, *rbmFisAfter, *rbmFstBefore, *rbmFstAfter;

  // The batch page's own controls.
  QCheckBox *cbEffectiveSizeMode, *cbExtinctionTimeMode;
  QSpinBox *seNbrRep, *seNbrTrials;
  QGroupBox* grpStatistics;
  QCheckBox *cbF, *cbTheta, *cbFis, *cbPairwiseFst, *cbGlobalFst, *cbK, *cbDistance, *cbExtinctionDate,
      *cbMeanN, *cbNLastGeneration, *cbMeanThetaGlobal, *cbMeanNe, *cbMeanRepVal, *cbTransitionMatrix;

  // ------------------------------------------------------------ fields
  std::unique_ptr<models::tMatrixModel> MatrixModel;
  // Pairwise Fst of the last state charted, n x n; FstDefined says where both
  // patches were occupied (elsewhere FstMat holds 0).
  utile::tMatrixOfDouble FstMat;
  utile::tMatrixOfBoolean FstDefined;

  // ------------------------------------------------------------ overrides
  void FormClose() override;
  models::tParam GetParam() override;
  bool HasGetParam() const override { return true; }
  double GetAlpha() override;
  double GetTerritory() override;
  void Initialise() override;
  void Run() override;
  void RunSensitivity() override;
  void ShowModel() override;
  void Simulation(const std::string& Line) override;
  void WriteHeaders() override;
  void FormActivate() override;

  // ------------------------------------------------------------ operations
  // Reseeds from the seed controls and makes every chart series anew.
  void InitialiseGraphs();
  void ApplyParameterChanges();
  void ChangeConnectivityMatrix();
  void edRegionalRiskRangeChange();
  void cbFecundityTypeChange();
  void btRunBatchClick();
  void acInitialiseExecute();

  // The connectivity functions of the landscape chart.
  double Dispersal(int32_t i, int32_t j) const;
  double InverseFst(int32_t i, int32_t j) const;
  double InverseFst2(int32_t i, int32_t j) const;
  double SpatialAutoCorrelation(int32_t i, int32_t j) const;

  // The pairwise Fst of two patches, (t - Theta_ij) / (1 - Theta_ij) with t the
  // size-squared weighted mean of the two Theta_ii; nothing when a patch is empty
  // or Theta_ij is 1.
  static std::optional<double> PairFst(const utile::tMatrixOfDouble& theta, const utile::tVectorOfDouble& n,
                                       int32_t i, int32_t j);
  // The pairs' points handed to the painter at the last painting of the Fst
  // chart when it draws its pairs without series (tests).
  qsizetype FstPairPointsPainted() const { return fFstPainted; }

 private:
  void BuildParametersPage();
  void BuildResultsPage();
  void BuildSensitivityPage();
  void ConnectHandlers();
  // Runs a command of the window's own buttons; a failure is shown.
  void Guarded(const std::function<void()>& command);
  // Reads the controls into the model and prepares it; EInvalidArgument for a
  // value that the model cannot run with (the model is then not prepared).
  void InitialiseModel();
  void CreateSeries();
  void UpdateFst();
  // The charts whose bottom axis is the time.
  std::array<utile::gui::tGraphicChart*, 7> TimeCharts() const;
  // The points of one step but the Fst pairs'; those of the pairs at a time.
  void ChartStep(int32_t x, double thetaBefore);
  void ChartFst(int32_t x);
  // Draws what the charts have not drawn yet: all of them, or those that show.
  void FlushPoints(bool all);
  void FlushPointsIfDue();
  // Fixes the time axes of every time chart to run from their start to a time.
  void SetTimeAxes(int32_t end);
  // The most points of either kind that the Fst chart takes in a run.
  double FstBudget() const;
  // Refuses a run whose points the machine has no memory for.
  void CheckChartMemory(int32_t steps) const;
  void FinishRun(bool ranOut);
  void ShowStatisticsSwitch();
  // The Fst pairs drawn without series: axes to their values, a new drawing.
  void DrawFstPairs();
  void PaintFstPairs(QPainter& painter, const utile::gui::tGraphicChart& chart);
  // Statistics of one batch run from a fresh initialisation, each followed by a
  // TAB; survived tells whether the metapopulation lived to the end.
  std::string BatchRun(bool& survived);
  std::string NARow() const;
  std::string RowStart() const;

  // A line of a chart and the list in which the chart keeps its points: a
  // run appends hundreds of points a step to them, without a look-up for each.
  struct tChartLine {
    utile::gui::tGraphicChart* Chart = nullptr;
    QLineSeries* Series = nullptr;
    QList<QPointF>* Points = nullptr;
    // A value that is not finite is a gap.
    void Append(double x, double y) { Points->append(QPointF(x, std::isfinite(y) ? y : NAN)); }
  };
  // The line series of the charts: the Fis and Fst lines hold the kind that
  // the radio buttons show (after dispersal while FisAfterShown,
  // FstAfterShown), the hidden lists the other, with the same times.
  std::vector<tChartLine> fDensity, fCoancestry, fFixation, fFis, fFst;
  tChartLine fNeGlobal, fActualSize, fLambdaG, fNeWB, fThetaGlobal, fHarmonicN, fMeanNe;
  QScatterSeries* fPairs = nullptr;
  std::vector<QList<QPointF>> fFisHidden, fFstHidden;
  bool fFisAfterShown = true, fFstAfterShown = true;
  std::vector<double> fThetaSeries;  // ThetaG as charted since the series were made
  std::optional<double> fNe;
  int32_t fFstStride = 1;  // steps per point of the Fst chart in this run
  struct tRange {
    double MinX = std::numeric_limits<double>::infinity(), MaxX = -MinX, MinY = MinX, MaxY = -MinX;
    void Include(double x, double y) {
      if (!(y == y)) return;
      MinX = std::min(MinX, x);
      MaxX = std::max(MaxX, x);
      MinY = std::min(MinY, y);
      MaxY = std::max(MaxY, y);
    }
  };
  // Above MaxFstSeries pairs the Fst chart has no series: the pairs' points
  // are kept here (the shown kind; fFstHidden the other) and drawn on a layer.
  utile::gui::tChartLayer* fFstLayer = nullptr;  // owned by the Fst chart
  std::vector<QList<QPointF>> fFstPairPoints;
  std::array<tRange, 2> fFstRange;  // the shown kind's values, the hidden kind's
  qsizetype fFstPainted = 0;        // pair points handed to the painter last time
  QElapsedTimer fLastFlush;
  qint64 fFlushCost = 0, fFstPaintCost = 0;
  std::optional<int32_t> fTimeAxisStart;  // where the time axes begin since the series were made
  std::optional<int32_t> fChartedTo;      // the model's time at the end of the charts' last run
  bool fActivated = false;
  std::string fRowStart;  // the current simulation line's values and capacity
};

}  // namespace vandrel
