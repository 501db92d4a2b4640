#include "app/ModelForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <cmath>
#include <exception>

#include "Utile/RunTime.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

namespace vandrel {

// ---------------------------------------------------------------- tTextFile

void tTextFile::Open(const std::string& fileName, std::ios::openmode mode) {
  Close();
  fFileName = fileName;
  fStream.open(fileName, mode | std::ios::out | std::ios::binary);
  if (!fStream.is_open())
    throw utile::EInOutError(utile::Format("Cannot open file \"%s\" for writing.", fileName));
}

void tTextFile::Rewrite(const std::string& fileName) {
  Open(fileName, std::ios::trunc);
}

void tTextFile::Append(const std::string& fileName) {
  Open(fileName, std::ios::app);
}

void tTextFile::Check() {
  if (!fStream) throw utile::EInOutError(utile::Format("Cannot write to file \"%s\".", fFileName));
}

void tTextFile::Write(std::string_view text) {
  utile::Assert(fStream.is_open(), "Result file not open");
  fStream << text;
  fStream.flush();
  Check();
}

void tTextFile::WriteLn(std::string_view text) {
  utile::Assert(fStream.is_open(), "Result file not open");
  fStream << text << "\r\n";
  fStream.flush();
  Check();
}

void tTextFile::Close() {
  if (fStream.is_open()) fStream.close();
  fStream.clear();
}

// --------------------------------------------------------------- tModelForm

tModelForm::tModelForm(TdlgVandrel* mainWindow)
    : QWidget(mainWindow, Qt::Window),
      fSimRunning([this](bool) { UpdateRunning(); }),
      dlgVandrel(mainWindow) {
  setAttribute(Qt::WA_DeleteOnClose);
  fCloseTimer = new QTimer(this);
  fCloseTimer->setInterval(50);
  connect(fCloseTimer, &QTimer::timeout, this, &tModelForm::TryPendingClose);
}

tModelForm::~tModelForm() {
  if (fRunningShown) QApplication::restoreOverrideCursor();
  // A workbench freed without being closed (with its owner) still leaves the list.
  if (!fFormClosed && dlgVandrel) dlgVandrel->RemoveModel(this);
}

void tModelForm::Abstract(const char* operation) const {
  throw utile::EAbstractError(utile::Format("Abstract operation %s called.", operation));
}

tModelForm::tRunLock::tRunLock(tModelForm& form) : fForm(form) {
  ++fForm.fRunLocks;
  fForm.UpdateRunning();
}

tModelForm::tRunLock::~tRunLock() {
  --fForm.fRunLocks;
  fForm.UpdateRunning();
}

void tModelForm::UpdateRunning() {
  const bool running = IsRunning();
  if (running == fRunningShown) return;
  fRunningShown = running;
  // The hour-glass shows for exactly as long as the workbench runs, whichever
  // path ends the run.
  if (running)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
  emit RunningChanged(running);
  if (dlgVandrel) dlgVandrel->Actualisation();
}

// -------------------------------------------------------- closing and activation

void tModelForm::closeEvent(QCloseEvent* event) {
  // Freeing the model under a running step (or under any computation that let
  // this close request through) would pull the ground from under it: stop the
  // run and close once everything has unwound.
  if (IsRunning() || MessagePumpDepth() > 0) {
    Stop();
    fClosePending = true;
    fCloseTimer->start();
    event->ignore();
    return;
  }
  fCloseTimer->stop();
  fClosePending = false;
  FormClose();
  event->accept();
}

void tModelForm::TryPendingClose() {
  if (IsRunning() || MessagePumpDepth() > 0) return;
  fCloseTimer->stop();
  close();
}

bool tModelForm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && !fFormClosed) {
    FormActivate();
    if (dlgVandrel) dlgVandrel->Actualisation();
  }
  return QWidget::event(event);
}

void tModelForm::FormClose() {
  fFormClosed = true;
  if (dlgVandrel) dlgVandrel->RemoveModel(this);
}

// ------------------------------------------------------------- abstract slots

models::tParam tModelForm::GetParam() {
  Abstract("GetParam");
}
double tModelForm::GetAlpha() {
  Abstract("GetAlpha");
}
double tModelForm::GetTerritory() {
  Abstract("GetTerritory");
}
void tModelForm::Initialise() {
  Abstract("Initialise");
}
void tModelForm::RunSensitivity() {
  Abstract("RunSensitivity");
}
void tModelForm::ShowModel() {
  Abstract("ShowModel");
}
void tModelForm::WriteHeaders() {
  Abstract("WriteHeaders");
}

// ------------------------------------------------------------ connectivity

int32_t tModelForm::PatchCount() const {
  return models::PatchCount();
}

double tModelForm::GetConnectance(int32_t i, int32_t j) const {
  return models::ConnectanceMat.at(i).at(j) ? 1.0 : 0.0;
}

double tModelForm::InverseDistance(int32_t i, int32_t j) {
  const double width = dlgVandrel->seWidth->value();
  const double height = dlgVandrel->seHeight->value();
  return 1.0 - models::DistanceMat.at(i).at(j) / std::sqrt(width * width + height * height);
}

void tModelForm::SetConnectivityFunction(tConnectivityFunction f) {
  fGetConnectivity = std::move(f);
  ComputeMaxConnectivity();
}

void tModelForm::ComputeMaxConnectivity() {
  if (!fGetConnectivity) return;
  fMaxConnectivity = -1.7e308;
  const int32_t n = PatchCount();
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) fMaxConnectivity = std::max(fMaxConnectivity, GetConnectivity(i, j));
}

double tModelForm::GetMaxConnectivity() const {
  return fMaxConnectivity > 0 ? fMaxConnectivity : 1.0;
}

double tModelForm::GetConnectivity(int32_t i, int32_t j) {
  // A missing or failing function falls back on the link matrix.
  try {
    if (fGetConnectivity) return fGetConnectivity(i, j);
  } catch (...) {
  }
  return GetConnectance(i, j);
}

utile::tMatrixOfDouble tModelForm::ConnectivityMatrix() {
  const int32_t n = PatchCount();
  utile::tMatrixOfDouble matrix(n, utile::tVectorOfDouble(n));
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) matrix[i][j] = GetConnectivity(i, j);
  return matrix;
}

// ------------------------------------------------------------- model files

void tModelForm::OpenModel(const std::string& FileName) {
  fFilename = FileName;
}

void tModelForm::SaveModel() {
  if (!HasModelFile()) {
    Dialogs().ShowMessage(
        this, utile::Format("%s has no model file: there is nothing to save.", windowTitle().toStdString()),
        tMessageKind::mkInformation);
    return;
  }
  if (fFilename.empty()) SaveModelAs();
}

void tModelForm::SaveModelAs() {
  if (!HasModelFile()) {
    SaveModel();  // says that there is nothing to save
    return;
  }
  const auto name = dlgVandrel->ExecuteModelSaveDialog();
  if (!name) return;
  fFilename = *name;
  SaveModel();
}

void tModelForm::DoSensitivityDoubleClick(QWidget* Sender) {
  auto* edit = qobject_cast<QLineEdit*>(Sender);
  if (!edit) return;
  const std::vector<std::string> names = Dialogs().OpenFileNames(
      this, "Select files",
      "All files (*.*)|*.*|Patch file (*.patch)|*.patch|Raster file (*.rst)|*.rst|Text file (*.txt)|*.txt");
  if (names.empty()) return;
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ",") + name;
  edit->setText(QString::fromStdString(joined));
}

// ------------------------------------------------------------ run and stop

void tModelForm::Run() {
  if (IsRunning())
    throw utile::EInvalidOperation(
        utile::Format("%s is running already: stop it first.", windowTitle().toStdString()));
  fSimRunning = true;
}

void tModelForm::Stop() {
  fSimRunning = false;
}

// -------------------------------------------------------------------- batch

void tModelForm::MakeLandscape(const std::string& Line, bool RewriteHeaders) {
  // Refused before a single control takes a value.
  dlgVandrel->CheckLandscapeFree(this);
  const std::vector<std::string> values = BatchLineValues(Line, tBatchLineKind::blLandscape);
  ++LanID;
  sLan = utile::Format("%d", LanID - 1) + "\t";
  size_t next = 0;
  dlgVandrel->TakeLandscapeLineValues([&] {
    for (const tTaggedComponent& item : dlgVandrel->TaggedComponents)
      if (item.Tag > 0) TakeBatchValues(item.Component, tBatchTarget::btLandscape, values, next, sLan);
    if (next < values.size() && dlgPatchData)
      for (const tTaggedComponent& item : dlgPatchData->TaggedComponents)
        if (item.Tag > 0) TakeBatchValues(item.Component, tBatchTarget::btLandscape, values, next, sLan);
  });

  const int32_t patchCount = PatchCount();
  fInLandscapeLine = true;
  try {
    dlgVandrel->RebuildLandscape(this);
  } catch (...) {
    fInLandscapeLine = false;
    throw;
  }
  fInLandscapeLine = false;
  if (RewriteHeaders && PatchCount() != patchCount) WriteHeaders();
}

void tModelForm::Simulation(const std::string& Line) {
  const std::vector<std::string> values = BatchLineValues(Line, tBatchLineKind::blSimulation);
  sPar.clear();
  size_t next = 0;
  for (const tTaggedComponent& item : TaggedComponents)
    if (item.Tag == 1 || item.Tag == 2)
      TakeBatchValues(item.Component, tBatchTarget::btSimulation, values, next, sPar);
  Initialise();
}

void tModelForm::RunBatch(const std::vector<std::string>& Lines, const std::string& FileName,
                          bool RewriteHeaders) {
  if (IsRunning())
    throw utile::EInvalidOperation(
        utile::Format("%s is running already: stop it first.", windowTitle().toStdString()));
  // A batch that would change the landscape under another running workbench is
  // refused before it asks about or touches its result file.
  for (const std::string& line : Lines)
    if (BatchLineKind(line) == tBatchLineKind::blLandscape) {
      dlgVandrel->CheckLandscapeFree(this);
      break;
    }
  bool append = false;
  if (utile::FileExists(FileName)) {
    switch (Dialogs().FileExists(utile::Format("\"%s\" already exists.", FileName))) {
      case tDialogResult::drAppend:
        append = true;
        break;
      case tDialogResult::drReplace:
        break;
      default:
        return;  // nothing is written
    }
  }
  tHourGlass hourGlass;
  BatchAppends = append;
  if (append) {
    Fs.Append(FileName);
  } else {
    Fs.Rewrite(FileName);
    try {
      WriteHeaders();
    } catch (...) {
      Fs.Close();
      throw;
    }
  }

  LanID = 0;
  // Rows before the batch's first landscape line have no landscape values, not
  // the last batch's.
  sLan.clear();
  BatchStartTime = utile::SteadyNow();
  // An abort clears the flag at once; the line that runs then still holds the landscape and the model.
  tRunLock lock(*this);
  fSimRunning = true;
  BatchProgress = 0;
  BatchErrors = 0;
  fNewLan = false;
  emit BatchStarted();
  try {
    const size_t count = Lines.size();
    for (size_t i = 0; i < count; ++i) {
      BatchProgress = static_cast<int32_t>(utile::Round(100.0L * (i + 1) / count));
      const tBatchLineKind kind = BatchLineKind(Lines[i]);
      if (kind == tBatchLineKind::blLandscape) {
        MakeLandscape(Lines[i], RewriteHeaders);
        fNewLan = true;
      } else if (kind == tBatchLineKind::blSimulation) {
        // A value that a control cannot take fails this line only.
        try {
          Simulation(Lines[i]);
        } catch (const EBatchValueError& error) {
          ++BatchErrors;
          Fs.WriteLn(utile::Format("****** Error in batch line %d: %s ************", i + 1, error.Message()));
        }
        fNewLan = false;
      }
      if (!fSimRunning) break;
    }
  } catch (...) {
    FinishBatch(true);
    throw;
  }
  FinishBatch(false);
}

std::string tModelForm::BatchErrorLine() const {
  return BatchErrors > 0 ? utile::Format("******* %d errors encountered", BatchErrors) : std::string();
}

void tModelForm::FinishBatch(bool failing) {
  std::exception_ptr failure;
  try {
    if (BatchErrors > 0) Fs.WriteLn(BatchErrorLine());
  } catch (...) {
    failure = std::current_exception();
  }
  fSimRunning = false;
  BatchStartTime = utile::SteadyNow() - BatchStartTime;
  Fs.Close();
  emit BatchFinished(BatchErrors);
  if (failure && !failing) std::rethrow_exception(failure);
}

}  // namespace vandrel
