// The simple demographic workbench on a main window, in a folder of its own
// (the rasters of the analyses are written to the current folder), with
// landscapes set patch by patch and the capacity worked out by Eigen3.
#pragma once

#include <Eigen/Dense>
#include <QDir>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cmath>
#include <vector>

#include "ScriptedDialogs.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgSimpleDemoModelU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

namespace testsupport {

struct tPatchSpec {
  int popID;
  double x, y, A;
};

// Records the landscape of each simulation, so that a batch's landscapes can be
// checked after it.
class tRecordingSimpleDemo : public vandrel::TdlgSimpleDemoModel {
 public:
  using TdlgSimpleDemoModel::TdlgSimpleDemoModel;
  void RunSensitivity() override {
    Landscapes.push_back(models::Patches);
    TdlgSimpleDemoModel::RunSensitivity();
  }
  std::vector<models::tArrayOfCircles> Landscapes;
};

class tSimpleDemoHarness {
 public:
  void Start() {
    vandrel::InstallMessagePump();
    Dialogs = &InstallScriptedDialogs();
    models::ResetLandscape();
    Folder = std::make_unique<QTemporaryDir>();
    fOldFolder = QDir::currentPath();
    QDir::setCurrent(Folder->path());
    Main = new vandrel::TdlgVandrel;
    vandrel::dlgPatchData = new vandrel::TdlgPatchData(Main);
    Main->SetWorkbenchFactory(vandrel::tWorkbenchKind::wkSimpleDemo,
                              [](vandrel::TdlgVandrel* owner) { return new tRecordingSimpleDemo(owner); });
    Bench = static_cast<tRecordingSimpleDemo*>(Main->NewModel(vandrel::tWorkbenchKind::wkSimpleDemo));
  }
  void Stop() {
    delete Main;
    vandrel::dlgPatchData = nullptr;
    vandrel::SetDialogs(nullptr);
    QDir::setCurrent(fOldFolder);
    Folder.reset();
    models::ResetLandscape();
  }

  // The patches in a study area of width x height, all linked, through the
  // main window's landscape sequence.
  void SetLandscape(const std::vector<tPatchSpec>& patches, int width = 36, int height = 36) {
    {
      const QSignalBlocker a(Main->seWidth), b(Main->seHeight);
      Main->seWidth->setValue(width);
      Main->seHeight->setValue(height);
    }
    models::Patches.clear();
    for (const tPatchSpec& p : patches) {
      models::tCircle c;
      c.popID = p.popID;
      c.x = p.x;
      c.y = p.y;
      c.A = p.A;
      models::Patches.push_back(c);
    }
    Main->ChangePatches();
    Bench->Initialise();
  }

  QString File(const QString& name) const { return QDir(Folder->path()).filePath(name); }

  vandrel::TdlgVandrel* Main = nullptr;
  tRecordingSimpleDemo* Bench = nullptr;
  tScriptedDialogs* Dialogs = nullptr;
  std::unique_ptr<QTemporaryDir> Folder;

 private:
  QString fOldFolder;
};

// The metapopulation capacity of the patches: the dominant eigenvalue of
// M[i][j] = exp(-alpha d_ij) (A_j / T)^Zem (A_i / T)^(Zim + Zext), zero diagonal.
inline double EigenCapacity(const models::tArrayOfCircles& p, double alpha, double T, double zem, double zim,
                            double zext) {
  const Eigen::Index n = static_cast<Eigen::Index>(p.size());
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j)
      if (i != j)
        m(i, j) = std::exp(-alpha * std::hypot(p[i].x - p[j].x, p[i].y - p[j].y)) *
                  std::pow(p[j].A / T, zem) * std::pow(p[i].A / T, zim + zext);
  return Eigen::EigenSolver<Eigen::MatrixXd>(m).eigenvalues().real().maxCoeff();
}

}  // namespace testsupport
