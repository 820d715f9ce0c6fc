// One transport call of 15 iterations over the whole mask list, fast kernels
// beside the reference ones, on the 800 x 800 photo with 1, 5 and 20 % masked, the
// centred hole and the fully masked frame. The work plane is put back to the
// damaged picture before every call (outside the timing).
#include <benchmark/benchmark.h>

#include "bench/bench_data.h"

namespace {
// Args: the picture (1, 5, 20 percent, -1 hole, -2 full), reference kernels.
void BM_TransportStep(benchmark::State& state) {
  CBenchSession s;
  const int picture = int(state.range(0));
  const bool ok = picture == -1   ? LoadShape(s, Shape::kHole, state)
                  : picture == -2 ? LoadShape(s, Shape::kFull, state)
                                  : Load800(s, picture, state);
  if (!ok) return;
  KernelSettings k;
  k.referenceKernels = state.range(1) != 0;
  s.engine.SetKernels(k);
  for (auto _ : state) {
    state.PauseTiming();
    s.Restart();
    state.ResumeTiming();
    s.engine.TransportStep(15, s.engine.m_nMaskCount, double(0.01f));
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(s.engine.m_nMaskCount);
  // Pixel updates (one pixel, three channels) per second.
  state.counters["px/s"] = benchmark::Counter(
      double(s.engine.m_nMaskCount) * 15.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TransportStep)
    ->ArgNames({"picture", "ref"})
    ->ArgsProduct({{1, 5, 20, -1, -2}, {0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransportStep)
    ->ArgNames({"picture", "ref"})
    ->ArgsProduct({{1, 5, 20, -1, -2}, {1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
