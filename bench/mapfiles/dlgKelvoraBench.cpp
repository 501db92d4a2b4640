// The main window's file list over a large folder, the preview of a large map and
// its export as a bitmap, on the offscreen platform. The maps and folders are made once under the
// system's temporary folder (about 400 MB for the large map) and removed at the
// end.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "Utile/Idrisi.h"
#include "Utile/MapExports.h"
#include "bench/Utile/MapBenchSupport.h"
#include "Utile/gui/GraphicOps.h"
#include "mapfiles/CustomPalometDialogs.h"
#include "mapfiles/GraphMap.h"
#include "mapfiles/Kelvora.h"
#include "mapfiles/dlgKelvoraU.h"

using namespace utile;
namespace fs = std::filesystem;

namespace {

const fs::path& Root() {
  static const fs::path root = [] {
    fs::path p = fs::temp_directory_path() / ("kelvora-bench-" + std::to_string(::getpid()));
    fs::create_directories(p / "program");
    return p;
  }();
  return root;
}

// A folder of 10,000 files: 2,500 maps of two files and 5,000 text files.
const std::string& ManyFiles() {
  static const std::string folder = [] {
    const fs::path p = Root() / "many";
    fs::create_directories(p);
    for (int i = 0; i < 2500; ++i)
      for (const char* extension : {".rdc", ".rst"}) std::ofstream(p / ("map" + std::to_string(i) + extension)) << "x";
    for (int i = 0; i < 5000; ++i) std::ofstream(p / ("notes" + std::to_string(i) + ".txt")) << "x";
    return p.string();
  }();
  return folder;
}

// A 10,000 x 10,000 real map.
const std::string& BigMap() {
  static const std::string name = [] {
    const fs::path p = Root() / "big";
    fs::create_directories(p);
    tRaster map;
    map.FileName = (p / "big_QT").string();
    map.DataType = idtReal;
    map.Rows = map.Columns = 10000;
    map.maxX = map.maxY = 10000;
    map.MinValue = 0;
    map.MaxValue = 1000;
    map.WriteDoc();
    TIdrisiFile f;
    map.OpenW(f);
    for (Integer r = 0; r < map.Rows; ++r)
      for (Integer c = 0; c < map.Columns; ++c) WriteRaster(f, static_cast<Single>((r + 3 * c) % 1001));
    CloseRaster(f);
    return (p / "big_QT.rst").string();
  }();
  return name;
}

using mapbench::ResetPeakMemory;

// The peak resident memory since the last reset, in MB.
double PeakMemoryMB() { return mapbench::ResidentMB("VmHWM:"); }

void BM_FileListOfTenThousandFiles(benchmark::State& state) {
  const std::string folder = ManyFiles();
  kelvora::SetProgramArguments({"call", folder});
  kelvora::TdlgKelvora window;
  window.cbFilter->setCurrentIndex(window.cbFilter->findText("All files (*.*)"));
  for (auto _ : state) window.RefreshFileList();
  state.counters["files"] = window.cbMaps->count();
  state.SetItemsProcessed(state.iterations() * window.cbMaps->count());
}
BENCHMARK(BM_FileListOfTenThousandFiles)->Unit(benchmark::kMillisecond);

// Reference: reading the names of the folder alone.
void BM_FileListReferenceReadNames(benchmark::State& state) {
  const std::string folder = ManyFiles();
  for (auto _ : state) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    benchmark::DoNotOptimize(names.data());
  }
}
BENCHMARK(BM_FileListReferenceReadNames)->Unit(benchmark::kMillisecond);

void BM_PreviewOfA10000By10000RealMap(benchmark::State& state) {
  const std::string map = BigMap();
  kelvora::SetProgramArguments({"call", fs::path(map).parent_path().string()});
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto window = std::make_unique<kelvora::TdlgKelvora>();
    window->pcOperations->setCurrentWidget(window->tsConversion);
    ResetPeakMemory();
    const double before = PeakMemoryMB();
    state.ResumeTiming();
    window->cbMaps->item(0)->setSelected(true);
    state.PauseTiming();
    peak = PeakMemoryMB() - before;
    if (window->PreviewMap->IsEmpty()) state.SkipWithError("no preview");
    // Typing elsewhere afterwards keeps the preview as it is.
    const auto reads = window->PreviewReads();
    QTest::keyClicks(window->edSuffix, "abcdefghij");
    if (window->PreviewReads() != reads) state.SkipWithError("the map was read again");
    window.reset();
    state.ResumeTiming();
  }
  state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_PreviewOfA10000By10000RealMap)->Iterations(2)->Unit(benchmark::kMillisecond);

// Reference: the two halves of the preview, the whole matrix and its picture.
void BM_PreviewReferenceAsMatrixAndMatrixToBitmap(benchmark::State& state) {
  const std::string map = BigMap();
  double peak = 0;
  for (auto _ : state) {
    ResetPeakMemory();
    const double before = PeakMemoryMB();
    tRaster raster(map);
    tMatrixOfDouble m = raster.AsMatrix();
    QImage picture;
    gui::MatrixToBitmap(m, CreatePalette(tPaletteType::ptRainbow), picture, raster.MinValue, raster.MaxValue,
                        gui::tMapOrientation::moRowCol, false, kelvora::tGraphMap::NoBackground);
    benchmark::DoNotOptimize(picture.constBits());
    peak = PeakMemoryMB() - before;
  }
  state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_PreviewReferenceAsMatrixAndMatrixToBitmap)->Iterations(2)->Unit(benchmark::kMillisecond);

// The bitmap export through the window: the whole matrix read, drawn through the
// palette into the export's own map image, and saved.
void BM_ExportBitmapOf10000By10000RealMap(benchmark::State& state) {
  const std::string map = BigMap();
  kelvora::SetProgramArguments({"call", fs::path(map).parent_path().string()});
  auto window = std::make_unique<kelvora::TdlgKelvora>();
  window->cbFormat->setCurrentIndex(window->cbFormat->findText("Bitmap (*.bmp)"));
  window->cbPalette->setCurrentIndex(window->cbPalette->findText("Rainbow"));
  window->cbMaps->findItems("big_QT.rst", Qt::MatchExactly)[0]->setSelected(true);
  const std::string bitmap = fs::path(map).replace_extension(".bmp").string();
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(bitmap);
    ResetPeakMemory();
    const double before = PeakMemoryMB();
    state.ResumeTiming();
    window->btExport->click();
    state.PauseTiming();
    peak = PeakMemoryMB() - before;
    if (!fs::exists(bitmap) || !window->mmOutput->toPlainText().isEmpty()) state.SkipWithError("no export");
    state.ResumeTiming();
  }
  state.counters["peak_MB"] = peak;
  state.SetItemsProcessed(state.iterations() * 100'000'000);
}
BENCHMARK(BM_ExportBitmapOf10000By10000RealMap)->Iterations(2)->Unit(benchmark::kMillisecond);

// Reference: a plain read of the image file in blocks, MatrixToBitmap of the same
// cells (as a matrix made beforehand), and a plain write of as many bytes as the
// picture holds; each part timed on its own too.
void BM_ExportBitmapReferenceReadDrawWrite(benchmark::State& state) {
  const std::string map = BigMap();
  const tMatrixOfDouble m = tRaster(map).AsMatrix();
  const tPalette palette = CreatePalette(tPaletteType::ptRainbow);
  const std::string target = fs::path(map).replace_filename("plain.bmp").string();
  std::vector<char> block(4'096'000);
  double read = 0, draw = 0, write = 0;
  auto seconds = [](auto from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  };
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    const int in = ::open(map.c_str(), O_RDONLY);
    while (::read(in, block.data(), block.size()) > 0) benchmark::ClobberMemory();
    ::close(in);
    read += seconds(start);
    start = std::chrono::steady_clock::now();
    QImage picture;
    gui::MatrixToBitmap(m, palette, picture, 0, 0, gui::tMapOrientation::moRowCol, false,
                        kelvora::tGraphMap::NoBackground);
    draw += seconds(start);
    start = std::chrono::steady_clock::now();
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const auto bytes = static_cast<size_t>(picture.sizeInBytes());
    if (::write(out, picture.constBits(), bytes) != static_cast<ssize_t>(bytes))
      state.SkipWithError("write failed");
    ::close(out);
    write += seconds(start);
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["read_ms"] = 1000 * read / n;
  state.counters["MatrixToBitmap_ms"] = 1000 * draw / n;
  state.counters["write_ms"] = 1000 * write / n;
  state.SetItemsProcessed(state.iterations() * 100'000'000);
}
BENCHMARK(BM_ExportBitmapReferenceReadDrawWrite)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  kelvora::InitialiseToolkit();
  QApplication application(argc, argv);
  kelvora::SetProgramFolder((Root() / "program").string());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::current_path("/", error);
  fs::remove_all(Root(), error);
  return 0;
}
