// A conversion (real to integer) and a modification (stretch 0-100) of the
// 10,000 x 10,000 real map, as the window runs them (a message pump installed, the
// gauge and the questions answered), beside a plain block read of the map and a
// plain write of as many bytes as the new map holds.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "MapBenchSupport.h"
#include "Utile/MapConversions.h"
#include "Utile/Platform.h"

namespace {

using namespace mapbench;

constexpr size_t BlockCells = static_cast<size_t>(utile::BufferSize);

// Reference: the image file read in blocks of the reader's size and `width` bytes per
// cell written in blocks, without looking at the cells.
void PlainReadWrite(benchmark::State& state, int width) {
  const std::string source = BenchMap().Map().ImageFileName();
  const std::string target = BenchMap().File("plain.rst");
  std::unique_ptr<char[]> block(new char[BlockCells * 4]);
  tPeakMemory memory;
  for (auto _ : state) {
    const int in = ::open(source.c_str(), O_RDONLY);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ssize_t n;
    while ((n = ::read(in, block.get(), BlockCells * 4)) > 0) {
      const size_t bytes = static_cast<size_t>(n / 4 * width);
      if (::write(out, block.get(), bytes) != static_cast<ssize_t>(bytes)) state.SkipWithError("write failed");
    }
    ::close(in);
    ::close(out);
  }
  memory.Report(state);
  state.SetItemsProcessed(state.iterations() * Cells);
}

void BM_PlainReadWriteTwoBytes(benchmark::State& state) { PlainReadWrite(state, 2); }
BENCHMARK(BM_PlainReadWriteTwoBytes)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlainReadWriteOneByte(benchmark::State& state) { PlainReadWrite(state, 1); }
BENCHMARK(BM_PlainReadWriteOneByte)->Unit(benchmark::kMillisecond)->Iterations(3);

utile::tMapWalkHooks WindowHooks(int64_t& gauge) {
  utile::tMapWalkHooks hooks;
  hooks.Progress = [&gauge](utile::Integer) { ++gauge; };
  hooks.Confirm = [](const std::string&) { return true; };
  hooks.Log = hooks.Task = hooks.WarningBox = hooks.ErrorBox = [](const std::string&) {};
  return hooks;
}

template <class tWalk>
void RunWalk(benchmark::State& state, tWalk walk) {
  const std::vector<std::string> items = {BenchMap().Map().ImageFileName()};
  int64_t gauge = 0;
  const auto hooks = WindowHooks(gauge);
  utile::SetMessagePump([] {});
  tPeakMemory memory;
  for (auto _ : state) {
    const auto results = walk(items, hooks);
    if (results.at(0).Outcome != utile::ocDone) state.SkipWithError(results[0].Message.c_str());
  }
  memory.Report(state);
  utile::SetMessagePump(nullptr);
  state.counters["gauge_steps"] = static_cast<double>(gauge) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * Cells);
}

void BM_ConvertRealToInteger(benchmark::State& state) {
  RunWalk(state, [](const std::vector<std::string>& items, const utile::tMapWalkHooks& hooks) {
    return utile::ConvertMaps(items, utile::cvInteger, {}, {false, "-int"}, hooks);
  });
}
BENCHMARK(BM_ConvertRealToInteger)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StretchTo0100(benchmark::State& state) {
  RunWalk(state, [](const std::vector<std::string>& items, const utile::tMapWalkHooks& hooks) {
    return utile::ModifyMaps(items, utile::mdStretch0100, "", "", {false, "-str"}, hooks);
  });
}
BENCHMARK(BM_StretchTo0100)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
