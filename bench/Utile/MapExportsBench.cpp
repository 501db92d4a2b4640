// The exports of the 10,000 x 10,000 real map, each beside its yardstick: the binary
// matrix file against a plain read of the map and a plain write of as many bytes;
// the text matrix file and the ASCII grid against a plain read with std::to_chars
// of every cell and a plain write of the text; the JPEG and bitmap writers against
// the JPEG library encoding the same picture alone and a plain write of its pixels.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

#include "MapBenchSupport.h"
#include "Utile/ColorOps.h"
#include "Utile/MapExports.h"
#include "Utile/RunTime.h"

namespace {

using namespace mapbench;

constexpr size_t BlockCells = static_cast<size_t>(utile::BufferSize);

// Reads the image file in blocks of the reader's size and hands each block to
// `block(cells, count, out)`, which writes through `out`.
template <class tBlock>
void PlainPass(benchmark::State& state, const std::string& target, tBlock block) {
  const std::string source = BenchMap().Map().ImageFileName();
  std::unique_ptr<float[]> cells(new float[BlockCells]);
  const int in = ::open(source.c_str(), O_RDONLY);
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ssize_t n;
  while ((n = ::read(in, cells.get(), BlockCells * 4)) > 0) block(cells.get(), static_cast<size_t>(n / 4), out);
  ::close(in);
  ::close(out);
  benchmark::ClobberMemory();
  (void)state;
}

void WriteAll(benchmark::State& state, int out, const void* data, size_t bytes) {
  if (::write(out, data, bytes) != static_cast<ssize_t>(bytes)) state.SkipWithError("write failed");
}

// ---------------------------------------------------------------- binary

void BM_PlainReadWriteEightBytes(benchmark::State& state) {
  std::unique_ptr<char[]> doubles(new char[BlockCells * 8]);
  tPeakMemory memory;
  for (auto _ : state)
    PlainPass(state, BenchMap().File("plain.bin"), [&](const float*, size_t count, int out) {
      WriteAll(state, out, doubles.get(), count * 8);
    });
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_PlainReadWriteEightBytes)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportBinaryMatrix(benchmark::State& state) {
  tPeakMemory memory;
  for (auto _ : state) utile::ExportMatrixFile(BenchMap().Map(), BenchMap().File("forest_QT.bin"), true);
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_ExportBinaryMatrix)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---------------------------------------------------------------- text

void BM_PlainReadToCharsWrite(benchmark::State& state) {
  std::unique_ptr<char[]> text(new char[BlockCells * 24]);
  tPeakMemory memory;
  for (auto _ : state)
    PlainPass(state, BenchMap().File("plain.txt"), [&](const float* cells, size_t count, int out) {
      char* p = text.get();
      for (size_t k = 0; k < count; ++k) {
        p = std::to_chars(p, p + 24, cells[k]).ptr;
        *p++ = '\t';
      }
      WriteAll(state, out, text.get(), static_cast<size_t>(p - text.get()));
    });
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_PlainReadToCharsWrite)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportTextMatrix(benchmark::State& state) {
  tPeakMemory memory;
  for (auto _ : state) utile::ExportMatrixFile(BenchMap().Map(), BenchMap().File("forest_QT.txt"), false);
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_ExportTextMatrix)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportAsciiGrid(benchmark::State& state) {
  tPeakMemory memory;
  for (auto _ : state) utile::ExportAsciiGrid(BenchMap().Map(), BenchMap().File("forest_QT.asc"));
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_ExportAsciiGrid)->Unit(benchmark::kMillisecond)->Iterations(3);

// The cell forms alone, in memory, over the first million cells.
std::vector<float> FirstCells() {
  std::vector<float> cells(1'000'000);
  std::FILE* in = std::fopen(BenchMap().Map().ImageFileName().c_str(), "rb");
  if (!in || std::fread(cells.data(), 4, cells.size(), in) != cells.size()) throw std::runtime_error("read failed");
  std::fclose(in);
  return cells;
}

void BM_CellToChars(benchmark::State& state) {
  const auto cells = FirstCells();
  char text[32];
  for (auto _ : state)
    for (float x : cells) benchmark::DoNotOptimize(std::to_chars(text, text + 32, x).ptr);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cells.size()));
}
BENCHMARK(BM_CellToChars)->Unit(benchmark::kMillisecond);

void BM_CellDefaultRealForm(benchmark::State& state) {
  const auto cells = FirstCells();
  char text[32];
  for (auto _ : state)
    for (float x : cells) benchmark::DoNotOptimize(utile::SingleToDefaultChars(x, text));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cells.size()));
}
BENCHMARK(BM_CellDefaultRealForm)->Unit(benchmark::kMillisecond);

void BM_CellGeneralFormatter(benchmark::State& state) {
  const auto cells = FirstCells();
  for (auto _ : state)
    for (float x : cells) benchmark::DoNotOptimize(utile::FloatToDefaultStr(x));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cells.size()));
}
BENCHMARK(BM_CellGeneralFormatter)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- pictures

// The map drawn through the rainbow palette over its range, missing cells grey:
// one 24-bit pixel per cell, as the export's picture.
struct tPicture {
  std::vector<utile::Byte> Pixels;
  utile::tPixelBuffer Buffer;
  tPicture() : Pixels(static_cast<size_t>(Cells) * 3) {
    const utile::tRaster& map = BenchMap().Map();
    const auto palette = utile::ColorToRGBtriple(utile::CreatePalette(utile::tPaletteType::ptRainbow));
    const utile::TRGBTriple grey = utile::ColorToRGBtriple(0x808080);
    auto* out = reinterpret_cast<utile::TRGBTriple*>(Pixels.data());
    utile::TIdrisiFile F;
    map.OpenR(F);
    utile::ForEachBlock(F, [&](const utile::Single* cells, utile::Cardinal count) {
      for (utile::Cardinal k = 0; k < count; ++k)
        *out++ = utile::ColorShade(cells[k], palette, map.MinValue, map.MaxValue, Flag, grey);
    });
    utile::CloseRaster(F);
    Buffer = {Pixels.data(), Side, Side, static_cast<size_t>(Side) * 3};
  }
};

const tPicture& Picture() {
  static tPicture picture;
  return picture;
}

void BM_JpegLibraryAlone(benchmark::State& state) {
  const auto& picture = Picture().Buffer;
  tPeakMemory memory;
  for (auto _ : state) {
    std::FILE* out = std::fopen(BenchMap().File("plain.jpg").c_str(), "wb");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = cinfo.image_height = Side;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(picture.Pixels + size_t{cinfo.next_scanline} * picture.BytesPerLine);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
  }
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_JpegLibraryAlone)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SaveJpegFile(benchmark::State& state) {
  const auto& picture = Picture().Buffer;
  tPeakMemory memory;
  for (auto _ : state) utile::SaveJpegFile(BenchMap().File("forest_QT.jpg"), picture);
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_SaveJpegFile)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PlainWritePixels(benchmark::State& state) {
  const auto& picture = Picture().Buffer;
  tPeakMemory memory;
  for (auto _ : state) {
    const int out = ::open(BenchMap().File("plain.bmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    WriteAll(state, out, picture.Pixels, static_cast<size_t>(Cells) * 3);
    ::close(out);
  }
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_PlainWritePixels)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SaveBitmapFile(benchmark::State& state) {
  const auto& picture = Picture().Buffer;
  tPeakMemory memory;
  for (auto _ : state) utile::SaveBitmapFile(BenchMap().File("forest_QT.bmp"), picture);
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(BM_SaveBitmapFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
