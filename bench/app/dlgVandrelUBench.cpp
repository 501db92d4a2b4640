// The landscape editor of the main window with 2,000 patches, on the offscreen
// platform: making and drawing a landscape, drawing every link, one drag step,
// and a change of the patch count to 10,000.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMouseEvent>
#include <QSpinBox>
#include <memory>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/gui/GraphicOps.h"
#include "app/ModelForm.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"
#include "bench/app/BenchSupport.h"
#include "bench/models/MetapopCommonReference.h"
#include "models/LandscapeGenerator.h"

namespace {

// A workbench that only links the patches by their distance.
class tLinkingWorkbench : public vandrel::tModelForm {
 public:
  explicit tLinkingWorkbench(vandrel::TdlgVandrel* main) : tModelForm(main) {
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  }
  void Initialise() override {}
};

vandrel::TdlgVandrel& Main() {
  static vandrel::TdlgVandrel* main = [] {
    vandrel::SetDialogs(std::make_unique<benchsupport::tQuietDialogs>());
    auto* window = new vandrel::TdlgVandrel;
    window->resize(1100, 800);
    window->show();
    return window;
  }();
  return *main;
}

// 2,000 random patches in 5,000 x 5,000, linked by their triangulation.
void MakeRandomLandscape(vandrel::TdlgVandrel& main) {
  main.seWidth->setValue(5000);
  main.seHeight->setValue(5000);
  main.cbPatchGeometry->setCurrentIndex(models::pgRandom);
  main.cbPatchSizes->setCurrentIndex(models::psRandom);
  main.cbConnectance->setCurrentIndex(models::ctDelaunay);
  main.seNbPatch->setValue(2000);
  main.btMakeLandscapeClick();
}

void Paint(vandrel::TdlgVandrel& main) {
  const QPixmap picture = main.chSpace->grab();
  benchmark::DoNotOptimize(picture.cacheKey());
}

void BM_RegenerateAndRedraw2000(benchmark::State& state) {
  vandrel::TdlgVandrel& main = Main();
  MakeRandomLandscape(main);
  for (auto _ : state) {
    main.btMakeLandscapeClick();
    Paint(main);
  }
  state.SetLabel("random layout, Delaunay links, drawn");
}
BENCHMARK(BM_RegenerateAndRedraw2000)->Unit(benchmark::kMillisecond);

// Reference: the distance matrix of the same patches.
void BM_ReferenceComputeDistanceMatrix2000(benchmark::State& state) {
  MakeRandomLandscape(Main());
  for (auto _ : state) {
    models::ComputeDistanceMatrix();
    benchmark::DoNotOptimize(models::DistanceMat.data());
  }
}
BENCHMARK(BM_ReferenceComputeDistanceMatrix2000)->Unit(benchmark::kMillisecond);

void BM_RedrawWithLinksOfAllPairs2000(benchmark::State& state) {
  vandrel::TdlgVandrel& main = Main();
  MakeRandomLandscape(main);
  auto* bench = new tLinkingWorkbench(&main);
  main.AddNewModel(bench);
  main.ckShowConnectivity->setChecked(true);
  main.SelCircle = -1;
  for (auto _ : state) {
    main.DrawSpace();
    Paint(main);
  }
  state.SetLabel("1,999,000 links");
  bench->close();
}
BENCHMARK(BM_RedrawWithLinksOfAllPairs2000)->Unit(benchmark::kMillisecond);

void BM_DragStep2000(benchmark::State& state) {
  vandrel::TdlgVandrel& main = Main();
  MakeRandomLandscape(main);
  QWidget* viewport = main.chSpace->viewport();
  auto at = [&main](double x, double y) {
    return main.chSpace->viewportTransform().map(
        main.chSpace->chart()->mapToScene(main.chSpace->ValueToPixel(QPointF(x, y))));
  };
  const models::tCircle patch = models::Patches[0];
  QMouseEvent press(QEvent::MouseButtonPress, at(patch.x, patch.y),
                    viewport->mapToGlobal(at(patch.x, patch.y)), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(viewport, &press);
  double dx = 20;
  for (auto _ : state) {
    dx = -dx;  // every step moves the patch
    const QPointF to = at(patch.x + dx, patch.y);
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    Paint(main);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, at(patch.x, patch.y),
                      viewport->mapToGlobal(at(patch.x, patch.y)), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(viewport, &release);
  state.SetLabel("distances, triangulation and drawing again");
}
BENCHMARK(BM_DragStep2000)->Unit(benchmark::kMillisecond);

void BM_CountChangeTo10000(benchmark::State& state) {
  vandrel::TdlgVandrel& main = Main();
  int count = 10000;
  for (auto _ : state) {
    main.seNbPatch->setValue(count);
    count = count == 10000 ? 9999 : 10000;
  }
  state.SetLabel("colours of 10,000 patches, table of 50,005,001 entries");
}
BENCHMARK(BM_CountChangeTo10000)->Unit(benchmark::kMillisecond);

// Reference: every entry of the table drawn, as for a table that is built whole.
void BM_ReferenceWholeColourTable10000(benchmark::State& state) {
  const size_t n = 10000, size = n * (n + 1) / 2 + 1;
  std::vector<utile::TColor> table;
  for (auto _ : state) {
    table.assign(size, 0);
    utile::RandSeed = 0;
    for (size_t i = 0; i < n; ++i)
      table[i] = utile::HSItoRGB(double(i) / n, 1.0, 0.3 + 0.7 * utile::Random());
    for (size_t i = n; i < size; ++i) {
      const double hue = utile::Random();
      table[i] = utile::HSItoRGB(hue, 1.0, 0.3 + 0.7 * utile::Random());
    }
    benchmark::DoNotOptimize(table.data());
  }
  // The table that is not built gives the same colours and leaves the same seed.
  const uint32_t seedAfterWhole = utile::RandSeed;
  models::tPatchColors colors;
  colors.Generate(static_cast<int32_t>(n));
  bool same = utile::RandSeed == seedAfterWhole;
  for (size_t i : {size_t(0), n - 1, n, n + 12345, size / 2, size - 1}) same = same && colors[i] == table[i];
  state.SetLabel(same ? "same colours and seed" : "DIFFERENT colours or seed");
}
BENCHMARK(BM_ReferenceWholeColourTable10000)->Unit(benchmark::kMillisecond)->Iterations(2);

// The landscape sequence after a change of the patches, with 2,000 and 10,000
// patches on a square grid, all linked, constant and exponential permeability: the first
// call at a size (the matrices freed and their memory given back beforehand)
// and later calls. Beside it, in the same binary, the matrices as they were
// computed before their fill was rebuilt (bench/models/MetapopCommonReference.h),
// which is what the sequence spent most of its time on.
void SetSequenceLandscape(vandrel::TdlgVandrel& main, int patches, bool exponential) {
  main.cbPatchGeometry->setCurrentIndex(models::pgSquare);
  main.cbPatchSizes->setCurrentIndex(models::psRandom);
  main.cbConnectance->setCurrentIndex(models::ctFullConnectance);
  main.seNbPatch->setValue(patches);
  main.btMakeLandscapeClick();
  models::PermeabilityType = exponential ? models::ptExponential : models::ptConstant;
  main.edSurvivalDistance->setText("250");
  main.edFixedSurvival->setText("0.8");
}

void ForgetMatrices() {
  utile::tMatrixOfDouble().swap(models::DistanceMat);
  utile::tMatrixOfDouble().swap(models::FrictionMap);
  utile::tMatrixOfBoolean().swap(models::ConnectanceMat);
  utile::tMatrixOfDouble().swap(models::reference::DistanceMat);
  utile::tMatrixOfDouble().swap(models::reference::FrictionMap);
  utile::tMatrixOfBoolean().swap(models::reference::ConnectanceMat);
  malloc_trim(0);
}

// Arguments: patches, exponential permeability (0/1), first call (0/1). For a
// first call the matrices are freed before each one.
template <class tCall>
void RunSequence(benchmark::State& state, tCall call) {
  vandrel::TdlgVandrel& main = Main();
  SetSequenceLandscape(main, static_cast<int>(state.range(0)), state.range(1) != 0);
  const bool first = state.range(2) != 0;
  ForgetMatrices();
  if (!first) call(main);
  for (auto _ : state) {
    if (first) {
      state.PauseTiming();
      ForgetMatrices();
      state.ResumeTiming();
    }
    // As before every event of the program: the drawing of the previous call
    // must not slow this one's arithmetic.
    utile::ClearUpperVectorState();
    call(main);
  }
  ForgetMatrices();
}

void BM_ChangePatches(benchmark::State& state) {
  RunSequence(state, [](vandrel::TdlgVandrel& main) { main.ChangePatches(); });
}

void BM_Reference_ChangePatchesMatrices(benchmark::State& state) {
  RunSequence(state, [](vandrel::TdlgVandrel&) {
    // The values the sequence reads from its edits.
    models::MeanPermeabilityDistance = 250;
    models::ConstantPermeability = 0.8;
    models::reference::ComputeConnectanceMatrix(models::ctFullConnectance, 0);
  });
}

void SequenceCases(benchmark::internal::Benchmark* b) {
  for (int patches : {2000, 10000})
    for (int exponential : {0, 1})
      for (int first : {1, 0}) b->Args({patches, exponential, first});
  b->Unit(benchmark::kMillisecond)->Iterations(3);
}
BENCHMARK(BM_ChangePatches)->Apply(SequenceCases);
BENCHMARK(BM_Reference_ChangePatchesMatrices)->Apply(SequenceCases);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  vandrel::InstallMessagePump();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
