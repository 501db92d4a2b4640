// The workbench of the graph model: three link weightings between the patches
// of the shared landscape (inverse distance, a negative-exponential dispersal
// kernel and the dispersal flow between patches), which the landscape chart
// draws as this workbench's links, a small chart of the kernel, and Compute, a
// sweep of the flux threshold that charts the statistics of the groups of
// linked patches. It has no time-stepping run, and its batch page stays hidden.
#pragma once

#include <string>
#include <vector>

#include "Utile/gui/GraphicOps.h"
#include "app/ModelForm.h"
#include "models/GraphModel.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace vandrel {

class tSensitivityPage;

// The chart of the kernel exp(-alpha x) over distances 0 to 100.
class tDispersalKernelGraph : public utile::gui::tFunctionGraphChart {
  Q_OBJECT
 public:
  // Plot: the captions are those of the x axis, the y axis and the title.
  tDispersalKernelGraph(QWidget* parent, const QString& xTitle, const QString& yTitle, const QString& title);

  double NegativeExponential(double x) const;
  double Alpha() const { return FAlpha; }
  // A decay that is not above 0 (or not a number) becomes 1; redraws.
  void SetAlpha(double a);

 private:
  double FAlpha = 1;
};

class TdlgGraphModel : public tModelForm {
  Q_OBJECT
 public:
  explicit TdlgGraphModel(TdlgVandrel* mainWindow);

  // ------------------------------------------------------------ controls
  QTabWidget* pcModel;
  QWidget *tsParameters, *tsModel, *tsResults, *tsSensitivity;
  QGroupBox *grpMetapopulation, *grpDispersal, *grpOutput, *grpDispersalKernel;
  tLabeledEdit *edColonisationRate, *edExtinctionRate, *edDelta;
  QRadioButton *rbDistance, *rbDispersalKernel, *rbDispersalFlow;
  tLabeledEdit *edZim, *edZem, *edZex, *edRange;
  QSlider* tbDispersal;
  QLabel* lblAdjacencyThreshold;
  QSlider* tbAdjacencyThreshold;
  QCheckBox *ckGroupCount, *ckOverallSize, *ckExpectedSize;
  tLabeledEdit* edSizeThreshold;
  QPushButton *btCompute, *btApply, *btTest;
  QPlainTextEdit* mmModel;
  QTabWidget* pcResults;
  QWidget* tsDesignPage;  // the results' design-time page, hidden
  tSensitivityPage* SensitivityPage;
  QAction *acRun, *acInitialise;

  // ------------------------------------------------------------ fields
  utile::tMatrixOfDouble fDispFlowMat;  // the dispersal flow of the current landscape
  double SumZim = 0, SumZem = 0;        // sums over the patches of A^Zim and A^Zem
  tDispersalKernelGraph* DispersalKernelGraph = nullptr;

  // ------------------------------------------------------------ readers
  double GetZim() const;
  double GetZem() const;
  double GetZex() const;
  double GetSizeThreshold() const;
  double GetAlpha() override;
  double GetTerritory() override;

  // ------------------------------------------------------------ link weightings
  double CutBelowThreshold(double x) const;
  double InverseDistance(int32_t i, int32_t j) override;
  double DispersalKernel(int32_t i, int32_t j);
  double DispersalFlow(int32_t i, int32_t j);
  utile::tMatrixOfDouble GetDispersalMat();
  void ComputeSumZimZem();
  // The checked weighting becomes the connectivity function; the landscape is redrawn.
  void ChangeConnectivityMatrix();

  // ------------------------------------------------------------ overrides
  void FormClose() override;
  void Initialise() override;
  void Run() override;
  void ShowModel() override;
  void Simulation(const std::string& Line) override;
  void WriteHeaders() override;
  void FormActivate() override;
  void RunSensitivity() override;
  void InitialiseGraphs();

  // ------------------------------------------------------------ events
  void tbDispersalChange();
  void edRangeChange();
  // Leaving the parameter page: the track bar follows the range, the model its parameters.
  void ApplyParameterChanges();
  void tbAdjacencyThresholdChange();
  void edZetaChange();
  void edRateChange();
  void Actualisation();
  // The threshold sweep: one new results page per selected statistic.
  void btComputeClick();
  void btRunBatchClick();

 private:
  void BuildParametersPage();
  void BuildSensitivityPage();
  void ConnectHandlers();
  // Runs a handler; a failure is shown in a message box.
  void Guarded(void (TdlgGraphModel::*handler)());
  void DrawSpace();

  int fLastPage = 0;
};

}  // namespace vandrel
