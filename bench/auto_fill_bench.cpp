// The fill that checks its candidates on held-out pixels, on the 800 x 800 photo: the
// scratch-and-text masks at 1, 5 and 20 % and the centred hole of 399 x 300, on one
// thread and on two; and the planning of the held-out copies alone. The work plane is
// refilled outside the timing. Counters: the regions, the held-out pixels, the hole
// PSNR reached and the estimate made without the photo.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_planes.h"
#include "engine/auto_fill.h"
#include "engine/holdout.h"
#include "engine/metrics.h"

namespace {
// Loads the picture and mask of `pct` (0: the centred hole in the photo itself).
bool Load(int pct, RgbPlane* photo, RgbPlane* damaged, MaskPlane* mask, benchmark::State& state) {
  if (!LoadPlane("bench/data/photo800.bmp", photo, state)) return false;
  if (pct > 0) {
    const std::string p = std::to_string(pct);
    return LoadPlane("bench/data/damaged800_" + p + ".bmp", damaged, state) &&
           LoadMaskPlane("bench/data/mask800_" + p + ".bmp", mask, state);
  }
  *damaged = *photo;
  if (!mask->Resize(photo->Width(), photo->Height())) {
    state.SkipWithError("out of memory");
    return false;
  }
  const int w = 399, h = 300, x0 = (photo->Width() - w) / 2, y0 = (photo->Height() - h) / 2;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) mask->At(x, y) = 1;
  return true;
}

// Args: percent masked (0: the centred hole), threads.
void BM_AutoFill800(benchmark::State& state) {
  RgbPlane photo, damaged, work;
  MaskPlane mask;
  if (!Load(int(state.range(0)), &photo, &damaged, &mask, state)) return;
  AutoOptions options;
  options.threads = int(state.range(1));
  AutoReport r;
  for (auto _ : state) {
    state.PauseTiming();
    work = damaged;
    state.ResumeTiming();
    r = AutoFill(&work, mask, options);
    benchmark::ClobberMemory();
  }
  if (!r.outcome.ok()) {
    state.SkipWithError(r.outcome.reason.c_str());
    return;
  }
  state.counters["regions"] = double(r.regions.size());
  state.counters["held_out_px"] = double(r.heldOutPixels);
  state.counters["psnr_hole_dB"] = MaskedPsnr(photo, work, mask);
  state.counters["estimate_dB"] = r.estimatedPsnr;
}
BENCHMARK(BM_AutoFill800)
    ->ArgNames({"pct", "threads"})
    ->ArgsProduct({{1, 5, 20, 0}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

// Arg: percent masked (0: the centred hole).
void BM_PlanHeldOut800(benchmark::State& state) {
  RgbPlane photo, damaged;
  MaskPlane mask;
  if (!Load(int(state.range(0)), &photo, &damaged, &mask, state)) return;
  HeldOutPlan plan;
  for (auto _ : state) {
    PlanHeldOut(mask, {}, &plan);
    benchmark::DoNotOptimize(plan.rounds.data());
  }
  state.counters["regions"] = double(plan.regions.regions.size());
}
BENCHMARK(BM_PlanHeldOut800)
    ->ArgName("pct")
    ->Arg(1)
    ->Arg(5)
    ->Arg(20)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
