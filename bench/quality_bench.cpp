// The quality measure (PSNR of the damaged and the work plane against the
// original) over the 800 x 800 extent with 5 % masked, right after a cycle (every
// masked value whole) and with fractional values in the mask (after transport).
#include <benchmark/benchmark.h>

#include "bench/bench_data.h"

namespace {
// Arg: 1 when the masked values hold fractions.
void BM_MeasurePsnr(benchmark::State& state) {
  CBenchSession s;
  if (!Load800(s, 5, state)) return;
  if (state.range(0) != 0) s.engine.TransportStep(1, s.engine.m_nMaskCount, 0.01);
  for (auto _ : state) {
    s.engine.MeasurePsnr();
    benchmark::ClobberMemory();
  }
  state.counters["psnr_damaged_dB"] = double(s.engine.m_fields.m_fPsnrDamaged);
}
BENCHMARK(BM_MeasurePsnr)->ArgNames({"fractions"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
