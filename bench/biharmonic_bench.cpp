// The thin-plate fill (lambda = 0) and the fill under tension on the 800 x 800 photo:
// the scratch-and-text masks at 1, 5 and 20 % of the pixels (from the damaged
// pictures), and a centred hole of 399 x 300 cut into the photo itself, as the
// membrane's benchmark takes them. The work plane is refilled outside the timing.
// Counters: the iterations, the grids of the preconditioner, the final relative
// residual and the hole PSNR of the fill against the photo.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_planes.h"
#include "engine/biharmonic.h"
#include "engine/metrics.h"

namespace {
bool CentredHole(const RgbPlane& photo, MaskPlane* mask, benchmark::State& state) {
  if (!mask->Resize(photo.Width(), photo.Height())) {
    state.SkipWithError("out of memory");
    return false;
  }
  const int w = 399, h = 300, x0 = (photo.Width() - w) / 2, y0 = (photo.Height() - h) / 2;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) mask->At(x, y) = 1;
  return true;
}

void Run(benchmark::State& state, const RgbPlane& photo, const RgbPlane& damaged,
         const MaskPlane& mask, double tension) {
  PlateOptions options;
  options.tension = tension;
  RgbPlane work;
  PlateReport r;
  for (auto _ : state) {
    state.PauseTiming();
    work = damaged;
    state.ResumeTiming();
    r = PlateFill(&work, mask, options);
    benchmark::ClobberMemory();
  }
  if (!r.outcome.ok()) {
    state.SkipWithError(r.outcome.reason.c_str());
    return;
  }
  state.counters["iterations"] = r.iterations;
  state.counters["levels"] = r.levels;
  state.counters["rel_residual"] = r.relativeResidual;
  state.counters["converged"] = r.converged ? 1 : 0;
  state.counters["psnr_hole_fill_dB"] = MaskedPsnr(photo, work, mask);
}

// Args: percent masked, tension x 1000.
void BM_PlateFill800(benchmark::State& state) {
  const std::string p = std::to_string(state.range(0));
  RgbPlane photo, damaged;
  MaskPlane mask;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state) ||
      !LoadPlane("bench/data/damaged800_" + p + ".bmp", &damaged, state) ||
      !LoadMaskPlane("bench/data/mask800_" + p + ".bmp", &mask, state))
    return;
  Run(state, photo, damaged, mask, double(state.range(1)) / 1000.0);
}
BENCHMARK(BM_PlateFill800)
    ->ArgNames({"pct", "tension_milli"})
    ->ArgsProduct({{1, 5, 20}, {0, 300}})
    ->Unit(benchmark::kMillisecond);

// Arg: tension x 1000.
void BM_PlateCentredHole(benchmark::State& state) {
  RgbPlane photo;
  MaskPlane mask;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state) || !CentredHole(photo, &mask, state))
    return;
  Run(state, photo, photo, mask, double(state.range(0)) / 1000.0);
}
BENCHMARK(BM_PlateCentredHole)
    ->ArgName("tension_milli")
    ->Arg(0)
    ->Arg(300)
    ->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
