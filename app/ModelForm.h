// The window base class of every model workbench: its link to the main window,
// the connectivity function that the landscape chart draws, the model-file
// commands and the whole batch machinery (landscape lines rebuild the shared
// landscape, simulation lines set the workbench's parameters and run one
// simulation, and the rows go to one tab-separated result file).
#pragma once

#include <QWidget>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Utile/CommonDecl.h"
#include "app/TaggedControls.h"
#include "models/MetapopCommon.h"

class QTimer;

namespace vandrel {

class TdlgVandrel;

enum class tModel { mMatrix, mIBM };

using tConnectivityFunction = std::function<double(int32_t i, int32_t j)>;

// The running flag of a workbench. It reads and assigns like a Boolean, and tells
// the workbench each time it changes, so that the windows can lock what must
// not change under a running model.
class tRunningFlag {
 public:
  explicit tRunningFlag(std::function<void(bool)> onChange) : fOnChange(std::move(onChange)) {}
  tRunningFlag(const tRunningFlag&) = delete;
  tRunningFlag& operator=(bool value) {
    if (value != fValue) {
      fValue = value;
      if (fOnChange) fOnChange(value);
    }
    return *this;
  }
  operator bool() const { return fValue; }

 private:
  bool fValue = false;
  std::function<void(bool)> fOnChange;
};

// A text file written bit by bit: every bit reaches the disk as it is
// written, and lines end with CR LF.
class tTextFile {
 public:
  // Empties the file, or creates it. EInOutError naming the file on failure.
  void Rewrite(const std::string& fileName);
  // Opens for writing at the end (creates a missing file).
  void Append(const std::string& fileName);
  void Write(std::string_view text);
  void WriteLn(std::string_view text = {});
  void Close();
  bool IsOpen() const { return fStream.is_open(); }
  const std::string& FileName() const { return fFileName; }

 private:
  void Open(const std::string& fileName, std::ios::openmode mode);
  void Check();
  std::ofstream fStream;
  std::string fFileName;
};

class tModelForm : public QWidget {
  Q_OBJECT
 public:
  // Create: the main window is the owner of the workbench window and its
  // reference to the landscape.
  explicit tModelForm(TdlgVandrel* mainWindow);
  ~tModelForm() override;

  // ------------------------------------------------ fields (declaration order)
  utile::tMatrixOfDouble fConnectivityMatrix;  // kept by workbenches; the base never fills it
  double fMaxConnectivity = 0;
  tConnectivityFunction fGetConnectivity;
  double BatchStartTime = 0;  // start of the running batch (steady clock); afterwards its duration
  std::string fFilename;      // the model file ("" until opened or saved)
  tModel fModel = tModel::mMatrix;
  tRunningFlag fSimRunning;  // a run or batch goes on; clearing it stops the batch after its line
  std::string sPar;          // values of the current simulation line, each followed by a TAB
  std::string sLan;          // number of the current landscape line, a TAB, its values each followed by a TAB
  int32_t LanID = 0;         // landscape lines executed in this batch
  bool fNewLan = false;      // the last line executed was a landscape line
  std::string CurrentBatchStep;
  bool ModelHasChanged = false;
  TdlgVandrel* dlgVandrel;
  tTextFile Fs;               // the open batch result file
  int32_t BatchProgress = 0;  // percent
  uint32_t BatchErrors = 0;   // failed batch steps (workbenches count them)
  bool BatchAppends = false;  // the running batch appends to a result file that existed

  // The workbench's controls that take batch values, in component order, filled
  // once in the workbench's constructor: Tag 1 and 2 take the values of a
  // simulation line.
  tTaggedComponents TaggedComponents;

  // --------------------------------------------- virtual operations (slot order)

  // Frees what the workbench owns; an override frees its model, then calls the
  // base, which takes the workbench off the main window's list.
  virtual void FormClose();
  // The landscape-analysis parameters read from the controls (abstract: callers
  // ask HasGetParam first).
  virtual models::tParam GetParam();
  virtual bool HasGetParam() const { return false; }
  virtual double GetAlpha();      // abstract
  virtual double GetTerritory();  // abstract
  // 1 - distance(i, j) / diagonal of the study area.
  virtual double InverseDistance(int32_t i, int32_t j);
  // Reads the parameters, builds the model on the current landscape, shows it.
  virtual void Initialise();  // abstract
  virtual void MakeLandscape(const std::string& Line, bool RewriteHeaders);
  // Records the file name; a workbench with model files reads the file.
  virtual void OpenModel(const std::string& FileName);
  // Sets the running flag (refused while a run or batch is still on the stack),
  // which shows the hour-glass until the workbench has stopped running; an
  // override runs the model under a tRunLock and clears the flag when it ends.
  virtual void Run();
  virtual void RunBatch(const std::vector<std::string>& Lines, const std::string& FileName,
                        bool RewriteHeaders);
  virtual void RunSensitivity();  // abstract
  virtual void SaveModel();
  virtual void ShowModel();  // abstract
  // Puts the values of a simulation line into the tagged controls, then Initialise.
  virtual void Simulation(const std::string& Line);
  virtual void Stop();
  virtual void WriteHeaders();  // abstract

  // Whether this workbench reads and writes model files of its own (the base
  // Save commands say so instead of pretending to save).
  virtual bool HasModelFile() const { return false; }
  // Runs when the workbench window becomes the active window.
  virtual void FormActivate() {}

  // -------------------------------------------------- non-virtual operations

  double GetConnectivity(int32_t i, int32_t j);
  double GetMaxConnectivity() const;
  void ComputeMaxConnectivity();
  void SetConnectivityFunction(tConnectivityFunction f);
  bool HasConnectivityFunction() const { return static_cast<bool>(fGetConnectivity); }
  utile::tMatrixOfDouble ConnectivityMatrix();
  void SaveModelAs();
  // Fills the edit with the names of files the user picks, joined by ",".
  void DoSensitivityDoubleClick(QWidget* Sender);

  // Held by a run, a batch or an analysis for as long as it is on the stack. The
  // workbench counts as running until its last lock goes, also once Stop or an
  // abort has cleared the running flag: what the computation still uses must not
  // be freed or rebuilt under it.
  class tRunLock {
   public:
    explicit tRunLock(tModelForm& form);
    ~tRunLock();
    tRunLock(const tRunLock&) = delete;
    tRunLock& operator=(const tRunLock&) = delete;

   private:
    tModelForm& fForm;
  };

  // True from the start of a run or batch until it has returned (and while a
  // close waits for it).
  bool IsRunning() const { return fSimRunning || fRunLocks > 0; }
  // A close was asked for while the workbench was busy: it closes when it has unwound.
  bool ClosePending() const { return fClosePending; }
  // True while a landscape line of this workbench's batch rebuilds the landscape.
  bool InLandscapeLine() const { return fInLandscapeLine; }

  int32_t PatchCount() const;
  // The link matrix entry as 0 or 1.
  double GetConnectance(int32_t i, int32_t j) const;

  // The line a batch with failed lines ends its result file with, empty without one.
  std::string BatchErrorLine() const;

 signals:
  void RunningChanged(bool running);
  // A batch has opened its result file and starts its lines; it has ended
  // (BatchErrors failed lines), whichever way.
  void BatchStarted();
  void BatchFinished(uint32_t errors);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  // The exception for an abstract operation that this workbench does not provide.
  [[noreturn]] void Abstract(const char* operation) const;

 private:
  // The hour-glass, the signal and the main window follow IsRunning.
  void UpdateRunning();
  void TryPendingClose();
  void FinishBatch(bool failing);

  int32_t fRunLocks = 0;
  bool fRunningShown = false;
  bool fClosePending = false;
  bool fInLandscapeLine = false;
  bool fFormClosed = false;
  QTimer* fCloseTimer = nullptr;
};

}  // namespace vandrel
