// Whole-map passes over a 10,000 x 10,000 real map (400 MB) through the block
// reader and writer, beside plain block reads and copies of the same file. The map
// is generated once in a temporary folder and removed at exit.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "MapBenchSupport.h"
#include "Utile/Idrisi.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace {

using mapbench::BenchMap;
using mapbench::Flag;
using mapbench::Cells;

// The integer map the copies write, beside the benchmark map.
const utile::tRaster& CopyMap() {
  static const utile::tRaster copy = [] {
    utile::tRaster map = BenchMap().Map();
    map.FileName = BenchMap().File("copy");
    map.DataType = utile::idtInteger;
    return map;
  }();
  return copy;
}

constexpr size_t BlockBytes = static_cast<size_t>(utile::BufferSize) * sizeof(utile::Single);

// Reference: the image file read in blocks of the reader's size, nothing else.
void BM_PlainBlockRead(benchmark::State& state) {
  const std::string file = BenchMap().Map().ImageFileName();
  std::unique_ptr<char[]> block(new char[BlockBytes]);
  for (auto _ : state) {
    const int handle = ::open(file.c_str(), O_RDONLY);
    int64_t total = 0;
    ssize_t n;
    while ((n = ::read(handle, block.get(), BlockBytes)) > 0) total += n;
    ::close(handle);
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_PlainBlockRead)->Unit(benchmark::kMillisecond)->Iterations(5);

// Every cell handed out by the block reader, cell by cell; the present ones are
// counted.
void BM_ReadEveryCell(benchmark::State& state) {
  const utile::tRaster& map = BenchMap().Map();
  for (auto _ : state) {
    utile::TIdrisiFile F;
    map.OpenR(F);
    int64_t present = 0;
    utile::Single value;
    while (!F.eof) present += utile::ReadRaster(F, value);
    utile::CloseRaster(F);
    // A copy, so that the loop's own counter stays in a register.
    int64_t presentSeen = present;
    benchmark::DoNotOptimize(presentSeen);
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_ReadEveryCell)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same pass through the block-wise reader.
void BM_ReadEveryCellBlockwise(benchmark::State& state) {
  const utile::tRaster& map = BenchMap().Map();
  for (auto _ : state) {
    utile::TIdrisiFile F;
    map.OpenR(F);
    int64_t present = 0;
    utile::ForEachCell(F, [&](utile::Single, bool isPresent) { present += isPresent; });
    utile::CloseRaster(F);
    int64_t presentSeen = present;
    benchmark::DoNotOptimize(presentSeen);
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_ReadEveryCellBlockwise)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reference: the image file read in blocks and the same number of 16-bit records
// written in blocks, without looking at the cells.
void BM_PlainBlockCopy(benchmark::State& state) {
  const std::string file = BenchMap().Map().ImageFileName();
  const std::string copy = CopyMap().ImageFileName();
  std::unique_ptr<char[]> block(new char[BlockBytes]);
  for (auto _ : state) {
    const int in = ::open(file.c_str(), O_RDONLY);
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ssize_t n;
    while ((n = ::read(in, block.get(), BlockBytes)) > 0)
      if (::write(out, block.get(), static_cast<size_t>(n / 2)) != n / 2) state.SkipWithError("write failed");
    ::close(in);
    ::close(out);
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_PlainBlockCopy)->Unit(benchmark::kMillisecond)->Iterations(5);

// A converted copy, cell by cell: real cells read, rounded and written to an
// integer map, missing cells written as the flag.
void BM_ConvertedCopy(benchmark::State& state) {
  const utile::tRaster& source = BenchMap().Map();
  const utile::tRaster& copy = CopyMap();
  for (auto _ : state) {
    utile::TIdrisiFile in, out;
    source.OpenR(in);
    copy.OpenW(out);
    utile::Single value;
    while (!in.eof) {
      if (!utile::ReadRaster(in, value)) value = Flag;
      utile::WriteRaster(out, value);
    }
    utile::CloseRaster(in);
    utile::CloseRaster(out);
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_ConvertedCopy)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same conversion through the block-wise copy.
void BM_ConvertedCopyBlockwise(benchmark::State& state) {
  const utile::tRaster& source = BenchMap().Map();
  const utile::tRaster& copy = CopyMap();
  for (auto _ : state) {
    utile::TIdrisiFile in, out;
    source.OpenR(in);
    copy.OpenW(out);
    utile::CopyCells(in, out, [](utile::Single value, bool present) { return present ? value : Flag; });
    utile::CloseRaster(in);
    utile::CloseRaster(out);
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_ConvertedCopyBlockwise)->Unit(benchmark::kMillisecond)->Iterations(5);

// The statistics pass, which lets messages through after every cell.
void BM_ComputeMean(benchmark::State& state) {
  utile::tRaster map = BenchMap().Map();
  for (auto _ : state) {
    map.ComputeMean();
    benchmark::DoNotOptimize(map.GetMean());
  }
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_ComputeMean)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same with a message pump installed, as in the programs' windows.
void BM_ComputeMeanWithPump(benchmark::State& state) {
  utile::SetMessagePump([] {});
  BM_ComputeMean(state);
  utile::SetMessagePump(nullptr);
}
BENCHMARK(BM_ComputeMeanWithPump)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Recompute(benchmark::State& state) {
  utile::tRaster map = BenchMap().Map();
  for (auto _ : state) map.Recompute();
  state.SetBytesProcessed(state.iterations() * Cells * 4);
}
BENCHMARK(BM_Recompute)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
