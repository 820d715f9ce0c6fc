// One transport call of 15 iterations over the whole mask list on 800 x 800
// pictures with 1, 5 and 20 % of the pixels masked, with the fast and the
// reference kernels. The work plane is refilled from the damaged surface before
// every call (outside the timing), so every call starts from the loaded picture.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_data.h"

namespace {
// Args: percent masked, reference kernels (0 fast, 1 reference).
void BM_TransportStep(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, int(state.range(0)), state)) return;
  dlg.m_bReferenceKernels = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    state.ResumeTiming();
    dlg.TransportStep(15, dlg.m_nMaskCount);
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(dlg.m_nMaskCount);
  // Pixel updates (one pixel, three channels) per second.
  state.counters["px/s"] = benchmark::Counter(double(dlg.m_nMaskCount) * 15.0 *
                                                  double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TransportStep)
    ->ArgNames({"pct", "ref"})
    ->ArgsProduct({{1, 5, 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
