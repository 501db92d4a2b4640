// A small workbench for the tests of the framework: a few tagged controls of
// every kind, and a simulation that writes its values as the result row.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <vector>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "app/ModelForm.h"

namespace testsupport {

class tTestWorkbench : public vandrel::tModelForm {
 public:
  explicit tTestWorkbench(vandrel::TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
    edA = new QLineEdit("start", this);
    edA->setObjectName("edA");
    seB = new QSpinBox(this);
    seB->setObjectName("seB");
    seB->setRange(0, 1000);
    cbC = new QComboBox(this);
    cbC->setObjectName("cbC");
    cbC->addItems({"zero", "one", "two"});
    ckD = new QCheckBox("D", this);
    ckD->setObjectName("ckD");
    sgE = new QTableWidget(2, 2, this);
    sgE->setObjectName("sgE");
    edUntagged = new QLineEdit("untouched", this);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{edA, seB, cbC, ckD, sgE, edUntagged})
      layout->addWidget(w);
    // Component order: A, B, C, D, then the two rows of E.
    TaggedComponents.Add(edA, 1);
    TaggedComponents.Add(seB, 1);
    TaggedComponents.Add(cbC, 1);
    TaggedComponents.Add(ckD, 1);
    TaggedComponents.Add(sgE, 2);
  }

  QLineEdit* edA;
  QSpinBox* seB;
  QComboBox* cbC;
  QCheckBox* ckD;
  QTableWidget* sgE;
  QLineEdit* edUntagged;

  int Initialisations = 0;
  int Headers = 0;
  std::vector<int32_t> Progress;
  bool WithModelFile = false;
  int Saves = 0;
  std::vector<std::string> Opened;
  // Steps of the interactive run; what runs at each step.
  int RunSteps = 0;
  int StepsDone = 0;
  std::function<void(int)> OnStep;

  void Initialise() override { ++Initialisations; }
  void ShowModel() override {}
  double GetAlpha() override { return 0.1; }
  double GetTerritory() override { return 1; }
  bool HasModelFile() const override { return WithModelFile; }
  void SaveModel() override {
    if (!WithModelFile)
      tModelForm::SaveModel();
    else if (fFilename.empty())
      SaveModelAs();
    else
      ++Saves;
  }
  // Refuses every model file, as a workbench does with one it cannot take.
  bool RefuseModelFiles = false;
  void OpenModel(const std::string& FileName) override {
    if (RefuseModelFiles) throw utile::EInOutError("\"" + FileName + "\" is not a model of this workbench.");
    tModelForm::OpenModel(FileName);
    Opened.push_back(FileName);
  }

  void WriteHeaders() override {
    ++Headers;
    Fs.WriteLn("Landscape\tA\tB\tC\tD\tE1\tE2");
  }

  // The row is the landscape and parameter texts; a value "fail" fails this
  // simulation (caught and counted), "crash" raises past it, "stop" stops the batch.
  void Simulation(const std::string& Line) override {
    tModelForm::Simulation(Line);
    Progress.push_back(BatchProgress);
    if (sPar.find("crash") != std::string::npos) throw utile::EInvalidOp("crashed");
    if (sPar.find("stop") != std::string::npos) Stop();
    if (sPar.find("fail") != std::string::npos) {
      ++BatchErrors;
      Fs.WriteLn("****** Error for " + sLan + sPar);
      return;
    }
    Fs.WriteLn(sLan + sPar);
  }

  void Run() override {
    tModelForm::Run();
    for (StepsDone = 0; StepsDone < RunSteps && fSimRunning; ++StepsDone) {
      if (OnStep) OnStep(StepsDone);
      utile::ProcessMessagesNow();
    }
    fSimRunning = false;
  }
};

}  // namespace testsupport
