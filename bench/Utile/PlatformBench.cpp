#include <benchmark/benchmark.h>

#include "Utile/Platform.h"

namespace {

int gPumps = 0;

// One call that does not pump: the engines make it once per individual.
void BM_ProcessMessagesWithoutPump(benchmark::State& state) {
  utile::SetMessagePump([] { ++gPumps; });
  utile::ProcessMessagesNow();
  for (auto _ : state) utile::ProcessMessages();
  utile::SetMessagePump(nullptr);
  state.counters["pumps"] = gPumps;
}
BENCHMARK(BM_ProcessMessagesWithoutPump);

void BM_ProcessMessagesNoHookInstalled(benchmark::State& state) {
  utile::SetMessagePump(nullptr);
  for (auto _ : state) utile::ProcessMessages();
}
BENCHMARK(BM_ProcessMessagesNoHookInstalled);

}  // namespace
