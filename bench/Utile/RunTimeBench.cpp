// The 23-character real form of text files against std::to_chars in scientific
// form with 14 decimals (the same number of digits), and against the form as the
// C library's printf made it; on values of the kind that landscape and matrix
// files hold, and on random bit patterns (every exponent, the subnormals).
// The conversion of text to doubles against std::from_chars.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <random>
#include <vector>

#include "TestSupport/PrintfRealForm.h"
#include "Utile/RunTime.h"

namespace {

constexpr size_t Count = 100'000;

// 0: distances and coordinates up to 10,000; 1: random bit patterns, finite.
const std::vector<double>& Values(int64_t kind) {
  static const std::vector<double> values[2] = {[] {
                                                  std::mt19937_64 random(7);
                                                  std::uniform_real_distribution<double> u(0, 10000);
                                                  std::vector<double> v(Count);
                                                  for (double& x : v) x = u(random);
                                                  return v;
                                                }(),
                                                [] {
                                                  std::mt19937_64 random(7);
                                                  std::vector<double> v;
                                                  while (v.size() < Count) {
                                                    const double x = std::bit_cast<double>(random());
                                                    if (std::isfinite(x)) v.push_back(x);
                                                  }
                                                  return v;
                                                }()};
  return values[kind];
}

void BM_DefaultRealForm(benchmark::State& state) {
  const std::vector<double>& values = Values(state.range(0));
  char text[32];
  for (auto _ : state)
    for (const double x : values) benchmark::DoNotOptimize(utile::DoubleToDefaultChars(x, text));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_DefaultRealForm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The reference: the same digits by the standard library.
void BM_ToCharsScientific14(benchmark::State& state) {
  const std::vector<double>& values = Values(state.range(0));
  char text[32];
  for (auto _ : state)
    for (const double x : values)
      benchmark::DoNotOptimize(std::to_chars(text, text + 32, x, std::chars_format::scientific, 14).ptr);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_ToCharsScientific14)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same form through the C library's printf, as it was made before.
void BM_DefaultRealFormThroughPrintf(benchmark::State& state) {
  const std::vector<double>& values = Values(state.range(0));
  for (auto _ : state)
    for (const double x : values) benchmark::DoNotOptimize(testsupport::PrintfDefaultForm(x));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_DefaultRealFormThroughPrintf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Reading the forms back: the toolkit's conversion against std::from_chars.
std::vector<std::string> Forms(int64_t kind) {
  std::vector<std::string> forms;
  for (const double x : Values(kind)) forms.push_back(utile::FloatToDefaultStr(x));
  return forms;
}

void BM_ReadDefaultRealForm(benchmark::State& state) {
  const std::vector<std::string> forms = Forms(state.range(0));
  for (auto _ : state)
    for (const std::string& form : forms) {
      double value;
      benchmark::DoNotOptimize(utile::TryStrToFloat(form, value, '.'));
      benchmark::DoNotOptimize(value);
    }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(forms.size()));
}
BENCHMARK(BM_ReadDefaultRealForm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FromChars(benchmark::State& state) {
  const std::vector<std::string> forms = Forms(state.range(0));
  for (auto _ : state)
    for (const std::string& form : forms) {
      double value;
      // The blank or sign position first, as the form has it.
      const char* first = form.data() + (form[0] == ' ' ? 1 : 0);
      benchmark::DoNotOptimize(std::from_chars(first, form.data() + form.size(), value).ptr);
      benchmark::DoNotOptimize(value);
    }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(forms.size()));
}
BENCHMARK(BM_FromChars)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
