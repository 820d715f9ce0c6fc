// The whole load commands on the 800 x 800 files: read, decode, size checks,
// surfaces, planes, grids and mask list.
#include <benchmark/benchmark.h>

#include "bench/bench_data.h"

namespace {
void BM_LoadDamagedAndMask(benchmark::State& state) {
  CBenchSession s;
  for (auto _ : state)
    if (!LoadFiles(s, "bench/data/damaged800_5.bmp", "bench/data/mask800_5.bmp", "", state)) break;
}
BENCHMARK(BM_LoadDamagedAndMask)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
