// The default run (100 transport iterations in blocks of 15, 2 diffusion iterations
// per channel after each block, dt 0.01, then the PSNR and the result) on the
// 800 x 800 photo with 5 % (and 20 %) masked, on 1, 2, 3 and 4 threads, and
// what the band pipeline of its sweeps costs: how many sweeps were shared, and of
// the time the threads spent on shared sweeps the share they spent waiting for the
// band above ("wait_%"). With N threads a shared sweep takes about
// (work + waits) / N, so the waits measured here give the speed-up to expect of
// the sweeps: N x (1 - wait share) over one thread.
// Every run starts from the damaged picture (put back outside the timing).
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/bench_data.h"

namespace {

// Args: the percent masked, threads.
void BM_DefaultRun(benchmark::State& state) {
  CBenchSession s;
  if (!Load800(s, int(state.range(0)), state)) return;
  KernelSettings k;
  k.threads = int(state.range(1));
  SweepCounters counters;
  k.sweepCounters = &counters;
  s.engine.SetKernels(k);
  double seconds = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    s.Restart();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    s.engine.OnRun();
    benchmark::ClobberMemory();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (!s.Ok(state)) return;
  const double sweeps = double(counters.solo.load() + counters.shared.load());
  state.counters["masked"] = double(s.engine.m_nMaskCount);
  state.counters["shared_%"] = sweeps > 0 ? 100.0 * double(counters.shared.load()) / sweeps : 0.0;
  const double band = double(counters.bandNs.load());
  state.counters["wait_%"] = band > 0 ? 100.0 * double(counters.waitNs.load()) / band : 0.0;
  // Per masked pixel and transport iteration, the diffusion and the rest included.
  state.counters["ns/px"] =
      seconds * 1e9 / (double(s.engine.m_nMaskCount) * 100.0 * double(state.iterations()));
}
BENCHMARK(BM_DefaultRun)
    ->ArgNames({"percent", "threads"})
    ->ArgsProduct({{5, 20}, {1, 2, 3, 4}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
