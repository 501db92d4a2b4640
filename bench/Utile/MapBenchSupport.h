// The 10,000 x 10,000 real map of the map-operation benchmarks (400 MB), made once
// in a temporary folder and removed at exit, and the peak memory of one benchmark.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport/Measurement.h"
#include "Utile/Idrisi.h"

namespace mapbench {

constexpr utile::Integer Side = 10'000;
constexpr int64_t Cells = int64_t{Side} * Side;
constexpr utile::Single Flag = -9999;

class tBenchMap {
public:
  tBenchMap() {
    std::string pattern = (std::filesystem::temp_directory_path() / "map-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    fFolder = pattern;
    fMap.FileName = fFolder + "/forest_QT";
    fMap.DataType = utile::idtReal;
    fMap.Columns = fMap.Rows = Side;
    fMap.maxX = fMap.maxY = Side;
    fMap.BackGround = utile::bsChecked;
    fMap.BackGroundValue = Flag;
    // Values with decimals between -3000 and 4400, one cell in 97 missing.
    std::vector<utile::Single> row(Side);
    std::FILE* out = std::fopen(fMap.ImageFileName().c_str(), "wb");
    if (!out) throw std::runtime_error("cannot create the map");
    float low = 1e30f, high = -1e30f;
    for (utile::Integer r = 0; r < Side; ++r) {
      for (utile::Integer c = 0; c < Side; ++c) {
        const int64_t i = int64_t{r} * Side + c;
        row[c] = i % 97 == 0 ? Flag : static_cast<utile::Single>((i * 7919) % 20000) * 0.37f - 3000;
        if (row[c] != Flag) low = std::min(low, row[c]), high = std::max(high, row[c]);
      }
      if (std::fwrite(row.data(), sizeof(utile::Single), Side, out) != static_cast<size_t>(Side))
        throw std::runtime_error("cannot write the map");
    }
    std::fclose(out);
    fMap.MinValue = low;
    fMap.MaxValue = high;
    fMap.WriteDoc();
  }
  ~tBenchMap() {
    std::error_code error;
    std::filesystem::remove_all(fFolder, error);
  }
  const utile::tRaster& Map() const { return fMap; }
  std::string File(const std::string& name) const { return fFolder + "/" + name; }

private:
  std::string fFolder;
  utile::tRaster fMap;
};

inline tBenchMap& BenchMap() {
  static tBenchMap map;
  return map;
}

using testsupport::ResetPeakMemory;
using testsupport::ResidentMB;

// The peak of resident memory over one benchmark, and above what it started with.
class tPeakMemory : public testsupport::tPeakMemory {
public:
  void Report(benchmark::State& state) const {
    state.counters["peak_MB"] = ResidentMB("VmHWM:");
    state.counters["added_MB"] = AddedMB();
  }
};

}  // namespace mapbench
