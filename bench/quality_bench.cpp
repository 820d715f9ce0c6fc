// The quality measure (PSNR of the damaged and the work plane against the
// original) over an 800 x 800 extent.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_data.h"

namespace {
void BM_MeasurePsnr(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, 5, state)) return;
  for (auto _ : state) {
    dlg.MeasurePsnr();
    benchmark::ClobberMemory();
  }
  state.counters["psnr_damaged_dB"] = double(dlg.m_fPsnrDamaged);
}
BENCHMARK(BM_MeasurePsnr)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
