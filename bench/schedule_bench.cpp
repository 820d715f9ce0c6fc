// Whole runs: the default run (100 transport iterations in blocks of 15, each
// block followed by 2 diffusion iterations per channel, dt 0.01, then the PSNR and
// the result surface) on 800 x 800 pictures with 1, 5 and 20 % masked, with the
// fast and the reference kernels; and the automatic mode on the 320 x 240 sample.
// Before every run the work plane (or, for the automatic mode, every picture) is
// reloaded outside the timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/bench_data.h"

namespace {
// Args: percent masked, reference kernels (0 fast, 1 reference). A run after an
// earlier one on the same mask: the fast diffusion's region cache is already built.
void BM_OnRun(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, int(state.range(0)), state)) return;
  dlg.m_bReferenceKernels = state.range(1) != 0;
  dlg.OnRun();  // first run: builds the cache
  for (auto _ : state) {
    state.PauseTiming();
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    state.ResumeTiming();
    dlg.OnRun();
    benchmark::ClobberMemory();
  }
  if (!dlg.m_messages.empty()) state.SkipWithError(dlg.m_messages.back().text.c_str());
  state.counters["masked"] = double(dlg.m_nMaskCount);
  state.counters["psnr_dB"] = double(dlg.m_fPsnrResult);
}
BENCHMARK(BM_OnRun)
    ->ArgNames({"pct", "ref"})
    ->Args({1, 0})
    ->Args({5, 0})
    ->Args({20, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnRun)
    ->ArgNames({"pct", "ref"})
    ->Args({1, 1})
    ->Args({5, 1})
    ->Args({20, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The first run after the mask is loaded (the fast diffusion builds its cache).
void BM_OnRunFirstAfterLoad(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, int(state.range(0)), state)) return;
  for (auto _ : state) {
    state.PauseTiming();
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    dlg.BuildMaskList(dlg.m_surfMask.hMemDC.get());
    state.ResumeTiming();
    dlg.OnRun();
    benchmark::ClobberMemory();
  }
  if (!dlg.m_messages.empty()) state.SkipWithError(dlg.m_messages.back().text.c_str());
  state.counters["masked"] = double(dlg.m_nMaskCount);
}
BENCHMARK(BM_OnRunFirstAfterLoad)->ArgNames({"pct"})->Arg(1)->Arg(5)->Arg(20)->Unit(
    benchmark::kMillisecond);

// Automatic mode on data/damaged.bmp, data/mask.bmp, data/original.bmp with the
// default fields (threshold 0). Arg: reference kernels.
void BM_OnAuto(benchmark::State& state) {
  CImageFiles dlg;
  const bool reference = state.range(0) != 0;
  double cycles = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    const bool ok = LoadFiles(dlg, "data/damaged.bmp", "data/mask.bmp", "data/original.bmp", state);
    dlg.m_bReferenceKernels = reference;
    state.ResumeTiming();
    if (!ok) break;
    const std::uint32_t before = dlg.m_nTotalIter;  // the totals persist across runs
    dlg.OnAuto();
    benchmark::ClobberMemory();
    cycles = double(dlg.m_nTotalIter - before) / 15.0;
  }
  if (!dlg.m_messages.empty()) state.SkipWithError(dlg.m_messages.back().text.c_str());
  state.counters["cycles"] = cycles;
  state.counters["psnr_dB"] = double(dlg.m_fPsnrResult);
}
BENCHMARK(BM_OnAuto)->ArgNames({"ref"})->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnAuto)->ArgNames({"ref"})->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
