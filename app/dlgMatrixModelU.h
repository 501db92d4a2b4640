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
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
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
  void ChartStep(int32_t x, double thetaBefore);
  void Plot(utile::gui::tGraphicChart* chart, QXYSeries* series, double x, double y);
  void FlushPoints();
  void FlushPointsIfDue();
  void FinishRun(bool ranOut);
  void ShowStatisticsSwitch();
  // The Fst pairs drawn without series: axes to their values, a new drawing.
  void DrawFstPairs();
  void PaintFstPairs(QPainter& painter, const utile::gui::tGraphicChart& chart) const;
  // Statistics of one batch run from a fresh initialisation, each followed by a
  // TAB; survived tells whether the metapopulation lived to the end.
  std::string BatchRun(bool& survived);
  std::string NARow() const;
  std::string RowStart() const;

  // Chart series and the values behind the switchable ones.
  std::vector<QLineSeries*> fDensity, fCoancestry, fFixation, fFis, fFst;
  QLineSeries *fNeGlobal = nullptr, *fActualSize = nullptr, *fLambdaG = nullptr, *fNeWB = nullptr,
              *fThetaGlobal = nullptr, *fHarmonicN = nullptr, *fMeanNe = nullptr;
  QScatterSeries* fPairs = nullptr;
  std::vector<QList<QPointF>> fFisBefore, fFisAfter, fFstBefore, fFstAfter;
  std::vector<double> fThetaSeries;  // ThetaG as charted since the series were made
  std::optional<double> fNe;
  int32_t fFstStride = 1;    // steps per point of the Fst chart
  int32_t fPatchStride = 1;  // steps per point of the charts of one series per patch
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
  utile::gui::tChartLayer* fFstLayer = nullptr;  // owned by the Fst chart
  std::array<tRange, 2> fFstRange;               // before, after dispersal
  // Points waiting for the charts, drawn together under one budget for all of
  // this window's charts.
  struct tPendingPoints {
    utile::gui::tGraphicChart* Chart;
    QXYSeries* Series;
    QList<QPointF> Points;
  };
  std::vector<tPendingPoints> fPending;
  std::unordered_map<const QXYSeries*, size_t> fPendingIndex;
  QElapsedTimer fLastFlush;
  std::optional<int32_t> fTimeAxisStart;  // where the time axes begin since the series were made
  qint64 fFlushCost = 0;
  bool fActivated = false;
  std::string fRowStart;  // the current simulation line's values and capacity
};

}  // namespace vandrel
