// Whole-map passes over a 10,000 x 10,000 real map (400 MB) through the block
// reader and writer, beside plain block reads and copies of the same file. The map
// is generated once in a temporary folder and removed at exit.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "Utile/Idrisi.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace {

constexpr utile::Integer Side = 10'000;
constexpr utile::Single Flag = -9999;

class tBenchMap {
public:
  tBenchMap() {
    std::string pattern = (std::filesystem::temp_directory_path() / "idrisi-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    fFolder = pattern;
    fSource.FileName = fFolder + "/source";
    fSource.DataType = utile::idtReal;
    fSource.Columns = Side;
    fSource.Rows = Side;
    fSource.maxX = fSource.maxY = Side;
    fSource.BackGround = utile::bsChecked;
    fSource.BackGroundValue = Flag;
    // Values with decimals between -3000 and 4400, one cell in 97 missing.
    std::vector<utile::Single> row(Side);
    std::FILE* out = std::fopen(fSource.ImageFileName().c_str(), "wb");
    if (!out) throw std::runtime_error("cannot create the map");
    for (utile::Integer r = 0; r < Side; ++r) {
      for (utile::Integer c = 0; c < Side; ++c) {
        const int64_t i = static_cast<int64_t>(r) * Side + c;
        row[c] = i % 97 == 0 ? Flag : static_cast<utile::Single>((i * 7919) % 20000) * 0.37f - 3000;
      }
      if (std::fwrite(row.data(), sizeof(utile::Single), Side, out) != static_cast<size_t>(Side))
        throw std::runtime_error("cannot write the map");
    }
    std::fclose(out);
    fSource.WriteDoc();
    fCopy = fSource;
    fCopy.FileName = fFolder + "/copy";
    fCopy.DataType = utile::idtInteger;
  }
  ~tBenchMap() {
    std::error_code error;
    std::filesystem::remove_all(fFolder, error);
  }

  const utile::tRaster& Source() const { return fSource; }
  const utile::tRaster& Copy() const { return fCopy; }

private:
  std::string fFolder;
  utile::tRaster fSource;
  utile::tRaster fCopy;
};

tBenchMap& Map() {
  static tBenchMap map;
  return map;
}

constexpr size_t BlockBytes = static_cast<size_t>(utile::BufferSize) * sizeof(utile::Single);

// Reference: the image file read in blocks of the reader's size, nothing else.
void BM_PlainBlockRead(benchmark::State& state) {
  const std::string file = Map().Source().ImageFileName();
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
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_PlainBlockRead)->Unit(benchmark::kMillisecond)->Iterations(5);

// Every cell handed out by the block reader, cell by cell; the present ones are
// counted.
void BM_ReadEveryCell(benchmark::State& state) {
  const utile::tRaster& map = Map().Source();
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
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_ReadEveryCell)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same pass through the block-wise reader.
void BM_ReadEveryCellBlockwise(benchmark::State& state) {
  const utile::tRaster& map = Map().Source();
  for (auto _ : state) {
    utile::TIdrisiFile F;
    map.OpenR(F);
    int64_t present = 0;
    utile::ForEachCell(F, [&](utile::Single, bool isPresent) { present += isPresent; });
    utile::CloseRaster(F);
    int64_t presentSeen = present;
    benchmark::DoNotOptimize(presentSeen);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_ReadEveryCellBlockwise)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reference: the image file read in blocks and the same number of 16-bit records
// written in blocks, without looking at the cells.
void BM_PlainBlockCopy(benchmark::State& state) {
  const std::string file = Map().Source().ImageFileName();
  const std::string copy = Map().Copy().ImageFileName();
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
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_PlainBlockCopy)->Unit(benchmark::kMillisecond)->Iterations(5);

// A converted copy, cell by cell: real cells read, rounded and written to an
// integer map, missing cells written as the flag.
void BM_ConvertedCopy(benchmark::State& state) {
  const utile::tRaster& source = Map().Source();
  const utile::tRaster& copy = Map().Copy();
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
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_ConvertedCopy)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same conversion through the block-wise copy.
void BM_ConvertedCopyBlockwise(benchmark::State& state) {
  const utile::tRaster& source = Map().Source();
  const utile::tRaster& copy = Map().Copy();
  for (auto _ : state) {
    utile::TIdrisiFile in, out;
    source.OpenR(in);
    copy.OpenW(out);
    utile::CopyCells(in, out, [](utile::Single value, bool present) { return present ? value : Flag; });
    utile::CloseRaster(in);
    utile::CloseRaster(out);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_ConvertedCopyBlockwise)->Unit(benchmark::kMillisecond)->Iterations(5);

// The statistics pass, which lets messages through after every cell.
void BM_ComputeMean(benchmark::State& state) {
  utile::tRaster map = Map().Source();
  for (auto _ : state) {
    map.ComputeMean();
    benchmark::DoNotOptimize(map.GetMean());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
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
  utile::tRaster map = Map().Source();
  for (auto _ : state) map.Recompute();
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_Recompute)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
