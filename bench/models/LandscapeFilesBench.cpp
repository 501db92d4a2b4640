// Reading landscape files of 10,000 and 200,000 patches, and of 2,000 patches
// with their distance matrix, against a plain read of the same bytes; saving the
// 2,000 patches with their matrix against a plain write of the file's bytes;
// writing a result grid of 4,000 x 4,000 cells as a raster against a plain block
// write of the same cells.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "models/LandscapeFiles.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vandrel-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(path);
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return path;
  }();
  return folder;
}

// n random patches, and their distance matrix when asked.
struct tLandscape {
  models::tArrayOfCircles Patches;
  utile::tMatrixOfDouble Distances;
};

tLandscape RandomLandscape(int n, bool withDistances) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> position(0, 10000), area(1, 40), rate(0, 1);
  tLandscape landscape;
  landscape.Patches.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    landscape.Patches[i] = {i + 1, position(rng), position(rng), area(rng), rate(rng), rate(rng)};
  if (withDistances) {
    const models::tArrayOfCircles& p = landscape.Patches;
    landscape.Distances.assign(static_cast<size_t>(n), utile::tVectorOfDouble(static_cast<size_t>(n)));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) landscape.Distances[i][j] = std::hypot(p[i].x - p[j].x, p[i].y - p[j].y);
  }
  return landscape;
}

// The landscape file of RandomLandscape.
std::string LandscapeFile(int n, bool withDistances) {
  const std::string file = Folder() + "/" + std::to_string(n) + (withDistances ? "d" : "") + ".patch";
  if (std::filesystem::exists(file)) return file;
  const tLandscape landscape = RandomLandscape(n, withDistances);
  models::SaveLandscapeFile(file, landscape.Patches, withDistances ? &landscape.Distances : nullptr);
  return file;
}

void BM_ReadLandscapeFile(benchmark::State& state) {
  const std::string file = LandscapeFile(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    const models::tLandscapeFile read = models::ReadLandscapeFile(file);
    benchmark::DoNotOptimize(read.Patches.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(file)));
}
BENCHMARK(BM_ReadLandscapeFile)
    ->Args({10000, 0})
    ->Args({200000, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond);

// The reference: the bytes of the same file read in one piece.
void BM_ReadLandscapeFileBytes(benchmark::State& state) {
  const std::string file = LandscapeFile(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    const std::string bytes = utile::LoadTextFromFile(file);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(file)));
}
BENCHMARK(BM_ReadLandscapeFileBytes)
    ->Args({10000, 0})
    ->Args({200000, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond);

// Saving 2,000 patches and their distance matrix: 4 million reals in the
// 23-character form.
void BM_SaveLandscapeFile(benchmark::State& state) {
  const tLandscape landscape = RandomLandscape(2000, true);
  const std::string file = Folder() + "/saved.patch";
  for (auto _ : state) models::SaveLandscapeFile(file, landscape.Patches, &landscape.Distances);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(file)));
}
BENCHMARK(BM_SaveLandscapeFile)->Unit(benchmark::kMillisecond);

// The reference: the bytes of the same file written in one piece.
void BM_WriteLandscapeFileBytes(benchmark::State& state) {
  const tLandscape landscape = RandomLandscape(2000, true);
  const std::string bytes = models::LandscapeFileText(landscape.Patches, &landscape.Distances);
  const std::string file = Folder() + "/written.patch";
  for (auto _ : state) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_WriteLandscapeFileBytes)->Unit(benchmark::kMillisecond);

constexpr int Side = 4000;

void FillResultMap() {
  if (models::ResultMap.size() == static_cast<size_t>(Side)) return;
  models::ResultMap.assign(Side, utile::tVectorOfDouble(Side));
  for (int c = 0; c < Side; ++c)
    for (int r = 0; r < Side; ++r) models::ResultMap[c][r] = 0.001 * c + r;
}

void BM_WriteMap(benchmark::State& state) {
  FillResultMap();
  utile::ChangeIdrisiVersion(utile::ivIdrisi32);
  for (auto _ : state) models::WriteMap(0, Side, 0, Side, Side, Side, Folder() + "/Result%d");
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_WriteMap)->Unit(benchmark::kMillisecond);

// The reference: the same cells, in the same order, as singles written in blocks.
void BM_WriteCellsInBlocks(benchmark::State& state) {
  FillResultMap();
  const std::string file = Folder() + "/plain.bin";
  std::vector<float> block(1'024'000);
  for (auto _ : state) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    size_t held = 0;
    for (int r = Side - 1; r >= 0; --r)
      for (int c = 0; c < Side; ++c) {
        block[held++] = static_cast<float>(models::ResultMap[c][r]);
        if (held == block.size()) {
          std::fwrite(block.data(), sizeof(float), held, out);
          held = 0;
        }
      }
    std::fwrite(block.data(), sizeof(float), held, out);
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{Side} * Side * 4);
}
BENCHMARK(BM_WriteCellsInBlocks)->Unit(benchmark::kMillisecond);

}  // namespace
