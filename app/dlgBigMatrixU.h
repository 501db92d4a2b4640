// The big-matrix workbench: the occupancy model over every occupancy state of
// at most 16 patches, its dispersal matrix and state numbers, the computation
// of its three dominant eigenvalues with their progress shown every two
// seconds, and the sensitivity batch that runs one computation per line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/ModelForm.h"
#include "models/BigMatrixModel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace vandrel {

class tSensitivityPage;

class TdlgBigMatrix : public tModelForm {
  Q_OBJECT
 public:
  explicit TdlgBigMatrix(TdlgVandrel* mainWindow);
  ~TdlgBigMatrix() override;

  // ------------------------------------------------------------ pages
  QTabWidget* pcMain;
  QWidget *tabParameters, *tabComputation, *tabTextOutput, *tabResults;
  tSensitivityPage* tabSensitivity;
  QTimer* timComputation;  // 2000 ms, on while a computation runs

  // Parameters
  QSpinBox* seNbStates;
  QTableWidget *sgStateNumbers, *sgDemoTransitions, *sgDispersal;
  QGroupBox* grpConnectivity;
  tLabeledEdit *edDispersalDistance, *edProbThreshold, *edPhilopatry;
  QCheckBox* ckRelativeToPanmixis;
  QPushButton* btApply;
  // Hidden: the birth and extinction parameters come from the patches.
  QGroupBox* grpDemography;
  tLabeledEdit *edProductivity, *edSourceProportion, *edExtinctionRisk, *edSourceDifferential;
  QComboBox* cbDemography;
  QPushButton* btMakeDemography;
  QTableWidget* sgDemography;

  // Computation: parameters
  QSpinBox *seIterations, *sePrecision, *seCoefficientPrecision, *seRAMProportion;
  QComboBox* cbAlgorithm;
  QCheckBox *ckApplicationCondition, *ckPropOccupancy;
  // Computation: results
  tLabeledEdit *edMatrixP0, *edMatrixT, *edLambdaP0, *edLambdaT, *edLambdaG, *edTimeToExtinction,
      *edEffectiveSize, *edDiversityLoss, *edActualSize, *edElapsedTime, *edIterationCount;
  // Computation: commands
  QPushButton *btComputeAll, *btAbort;
  QPushButton *btDisplayP0, *btDisplayT, *btDisplayG;
  QPushButton *btP0Eigensystem, *btGEigensystem, *btTEigensystem, *btTPrimeEigenvalue;
  QGroupBox* grpHierarchic;
  QSpinBox* seMaxGroupSize;
  QPushButton* btHierarchicalAnalysis;

  // Text output
  QPlainTextEdit* mmModel;

  // Sensitivity analysis: the shared page and this workbench's own controls on it
  QPushButton *btAbortSensitivity, *btPurgeResults, *btOptions;
  QProgressBar* ggBatchProgress;
  QLabel* lblBatch;

  // ------------------------------------------------------------ fields
  utile::tMatrixOfDouble DispersalMatrix;                 // n x n, the connectivity function
  std::unique_ptr<models::tBigSPOMModel> BigMatrixModel;  // rebuilt by every initialisation
  QLineEdit* CurrentEditOutput = nullptr;                 // where the progress display writes the estimate
  int32_t OldIteration = 0;                               // the pass count last shown
  double StartTime = 0;                                   // of the current eigenvalue computation
  double IterationStartTime = 0;                          // of its iteration

  // ------------------------------------------------------------ the model form
  void FormClose() override;
  void FormActivate() override;
  double GetAlpha() override;
  double GetTerritory() override { return 1.0; }
  double InverseDistance(int32_t i, int32_t j) override;
  // Builds the dispersal matrix and the state numbers into their grids and a new
  // model from the grids; refuses more than 16 patches (no model then) and
  // numbers of states other than 2 (the model in force stays).
  void Initialise() override;
  void Run() override;  // computes nothing
  void ShowModel() override {}
  // The line's values in the tagged controls, then one computation.
  void Simulation(const std::string& Line) override;
  void RunSensitivity() override;
  // Also asks a running iteration to stop (a closing window waits for it).
  void Stop() override;
  void WriteHeaders() override;

  // ------------------------------------------------------------ parameters
  double Dispersal(int32_t i, int32_t j) const;
  void ChangeConnectivityMatrix();
  // Headers, "Sum" rows and the matrix sizes.
  void Actualisation();
  void OnModelChange();
  void seNbStatesChange();
  void tabParametersResize();
  void btOptionsClick();

  // ------------------------------------------------------------ computation
  void btComputeAllClick();
  bool ApplicationConditionCheck() const;
  void ComputeExact();
  void ComputeKesp3();
  void timComputationTimer();
  void btAbortClick();
  // True from the start of an eigenvalue computation until it has unwound.
  bool Computing() const { return fComputing; }
  // The sizes of P0 and T for n patches of Ns states, 64-bit.
  static std::string MatrixP0Text(int32_t n, int32_t Ns);
  static std::string MatrixTText(int32_t n, int32_t Ns, int64_t freeMemory);

  // ------------------------------------------------------------ sensitivity batch
  void btRunBatchClick();
  void btAbortSensitivityClick();
  void btPurgeResultsClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class tComputationScope;
  // P0L: P0 with its rows scaled by the genetic eigenvalue of their state (T').
  enum class tMatrixKind { mkP0, mkT, mkG, mkP0L };

  void BuildParametersPage();
  void BuildComputationPage();
  void BuildSensitivityPage();
  void ConnectHandlers();
  void FormCreate();
  // Runs a command of a button; a failure is shown.
  void Guarded(const std::function<void()>& command);
  void Compute(models::tBMAlgorithm algorithm);
  void DisplayMatrix(tMatrixKind kind);
  void ComputeEigensystem(tMatrixKind kind);
  void btHierarchicalAnalysisClick();
  void ClearResultDisplays();
  void UpdateBusyControls();
  models::tBigMatrixSettings Settings() const;
  std::string LastOutputLine() const;
  // The error row of the current batch line, into the text output and the result file.
  void WriteErrorRow(const std::string& reason);

  bool fComputing = false;
  bool fInBatchLine = false;    // a batch line's computation: its rows begin with sLan and sPar
  bool fUpdatingGrids = false;  // the window itself writes the grids
  std::string fNoModelReason;   // why the last initialisation left no model
};

}  // namespace vandrel
