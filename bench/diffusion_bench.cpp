// One diffusion call of 2 iterations on each channel of 800 x 800 pictures with
// 1, 5 and 20 % of the pixels masked, with the fast and the reference kernels.
// The work plane is refilled from the damaged surface before every call (outside
// the timing). The fast kernel's region cache is built by a first call before
// the timed loop, as the first call after a load builds it; BM_DiffusionFirstCall
// times that first call (cache build included) on its own.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_data.h"

namespace {
// Args: percent masked, channel, reference kernels (0 fast, 1 reference).
void BM_DiffusionStep(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, int(state.range(0)), state)) return;
  const int channel = int(state.range(1));
  dlg.m_bReferenceKernels = state.range(2) != 0;
  dlg.DiffusionStep(2, channel);  // builds the fast kernel's cache
  for (auto _ : state) {
    state.PauseTiming();
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    state.ResumeTiming();
    dlg.DiffusionStep(2, channel);
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(dlg.m_nMaskCount);
}
BENCHMARK(BM_DiffusionStep)
    ->ArgNames({"pct", "c", "ref"})
    ->ArgsProduct({{1, 5, 20}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The first fast call after a mask is built: the region cache is built in it.
void BM_DiffusionFirstCall(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, int(state.range(0)), state)) return;
  for (auto _ : state) {
    state.PauseTiming();
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    dlg.BuildMaskList(dlg.m_surfMask.hMemDC.get());  // new generation: cache stale
    state.ResumeTiming();
    dlg.DiffusionStep(2, 0);
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(dlg.m_nMaskCount);
}
BENCHMARK(BM_DiffusionFirstCall)->ArgNames({"pct"})->Arg(1)->Arg(5)->Arg(20)->Unit(
    benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
