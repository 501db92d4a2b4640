// The individual-based workbench: the species parameters, the life cycle drawn
// as a graph of event cells, the spatial, simulation and genetics settings, the
// results pages and the model file. The cells themselves, their numbering and
// the check of the drawn cycle are models::tEventCells; this window draws them,
// turns the mouse gestures into edits and keeps one parameter box per cell.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <unordered_map>

#include "app/ModelForm.h"
#include "models/EventCells.h"
#include "models/MetapopIBM.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTableWidget;
class QTabWidget;

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
  tLabeledEdit *edDispersalDistance, *edTestDispersalProb, *edExpImmigrationProb;
  QSlider* tbTestDispersalProb;
  QRadioButton *rbDistance, *rbConnectivity, *rbDispersalProbability, *rbTest, *rbDispersalEvents;
  QComboBox* cbDispersalEvent;
  QPushButton* btApplyComputeMatrices;
  QGroupBox* grpBackwardDispersal;
  QPlainTextEdit* mmBackwardDispersal;

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

  // Genetics
  QSpinBox *seNbLoci, *seNbAlleles, *seSamplingProbabilityJuvenile, *seSamplingProbabilityAdult;
  tLabeledEdit *edKAMrate, *edSSMrate;
  QGroupBox* grpSampling;

  // Results
  QTabWidget* pcResults;
  QWidget *tsTags, *tsTextOutput;
  QPlainTextEdit* mmOutput;

  // Run
  QPushButton *btRun, *btRunBatch;
  QPlainTextEdit* mmLog;

  // ------------------------------------------------------------ fields
  // The drawn cells (the first is the Birth cell made with the window), their
  // depth-first order and the selected one.
  models::tEventCells fEventCells;
  bool Closing = false;
  std::unique_ptr<models::tMetaPop> Metapop;

  // ------------------------------------------------------------ the model form
  void FormClose() override;
  void FormActivate() override;
  double GetAlpha() override;
  // Builds the checked life cycle into the model on the landscape's patches.
  void Initialise() override;
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLifeCyclePage();
  void BuildSpatialPage();
  void BuildSimulationsPage();
  void BuildGeneticsPage();
  void BuildResultsPage();
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

  std::unordered_map<const models::tEventCell*, tEventCellControls> fCellControls;
  bool fUpdatingControls = false;  // the window itself writes the parameter boxes
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
