// Whole runs, fast kernels beside the reference ones: the default run (100
// transport iterations in blocks of 15, each followed by 2 diffusion iterations
// per channel, dt 0.01, then the PSNR and the result) on the 800 x 800 photo with
// 1, 5 and 20 % masked, on a centred hole of 119,700 pixels and on a fully masked
// frame; and the automatic mode on the 5 % picture with a threshold of 0.02 dB
// (1,215 iterations), 0.015 dB (1,995) and 0 (5,880). Every run starts from the damaged picture
// (put back outside the timing). The "us/px" counter is the time per masked pixel
// and transport iteration.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/bench_data.h"

namespace {
enum Picture { kHole = -1, kFull = -2 };

bool LoadPicture(CBenchSession& s, int picture, benchmark::State& state) {
  if (picture == kHole) return LoadShape(s, Shape::kHole, state);
  if (picture == kFull) return LoadShape(s, Shape::kFull, state);
  return Load800(s, picture, state);
}

// Args: the picture (1, 5, 20 percent, -1 hole, -2 full), reference kernels,
// threads.
void BM_OnRun(benchmark::State& state) {
  CBenchSession s;
  if (!LoadPicture(s, int(state.range(0)), state)) return;
  KernelSettings k;
  k.referenceKernels = state.range(1) != 0;
  k.threads = int(state.range(2));
  s.engine.SetKernels(k);
  for (auto _ : state) {
    state.PauseTiming();
    s.Restart();
    state.ResumeTiming();
    s.engine.OnRun();
    benchmark::ClobberMemory();
  }
  if (!s.Ok(state)) return;
  const double masked = double(s.engine.m_nMaskCount);
  state.counters["masked"] = masked;
  state.counters["psnr_dB"] = double(s.engine.m_fields.m_fPsnrResult);
  state.counters["us/px"] =
      benchmark::Counter(masked * 100.0 * double(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OnRun)
    ->ArgNames({"picture", "ref", "threads"})
    ->ArgsProduct({{1, 5, 20, kHole, kFull}, {0}, {2, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnRun)
    ->ArgNames({"picture", "ref", "threads"})
    ->ArgsProduct({{1, 5, 20, kHole, kFull}, {1}, {1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The automatic mode on the 5 % picture. Args: threshold in thousandths of a dB,
// reference kernels, threads.
void BM_OnAuto(benchmark::State& state) {
  CBenchSession s;
  if (!Load800(s, 5, state)) return;
  KernelSettings k;
  k.referenceKernels = state.range(1) != 0;
  k.threads = int(state.range(2));
  s.engine.SetKernels(k);
  float threshold = 0;
  ParseFloatField(std::to_string(double(state.range(0)) / 1000.0), &threshold);
  std::uint32_t iterations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    s.Restart();
    s.engine.m_fields.m_nTotalIter = 0;
    s.engine.ShowFields();
    CDialogFields typed = s.engine.ShownFields();
    typed.m_fThreshold = threshold;
    s.engine.SetShownFields(typed);
    state.ResumeTiming();
    s.engine.OnAuto();
    benchmark::ClobberMemory();
    iterations = s.engine.m_fields.m_nTotalIter;
  }
  if (!s.Ok(state)) return;
  state.counters["iterations"] = double(iterations);
  state.counters["psnr_dB"] = double(s.engine.m_fields.m_fPsnrResult);
}
BENCHMARK(BM_OnAuto)
    ->ArgNames({"threshold_mdB", "ref", "threads"})
    ->ArgsProduct({{20, 15, 0}, {0}, {2, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnAuto)
    ->ArgNames({"threshold_mdB", "ref", "threads"})
    ->ArgsProduct({{20, 15}, {1}, {1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
