// The membrane fill on the 800 x 800 photo: the scratch-and-text masks at 1, 5 and
// 20 % of the pixels (from the damaged pictures), and a centred hole of 399 x 300
// cut into the photo itself. The work plane is refilled outside the timing. The
// counters give the iterations, the final relative residual and, for the masks,
// the whole-picture PSNR of the damaged picture and of the fill against the photo.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_planes.h"
#include "engine/membrane.h"
#include "engine/metrics.h"

namespace {
void Report(benchmark::State& state, const MembraneReport& r) {
  state.counters["iterations"] = r.iterations;
  state.counters["rel_residual"] = r.relativeResidual;
  state.counters["converged"] = r.converged ? 1 : 0;
}

// Arg: percent masked.
void BM_MembraneFill800(benchmark::State& state) {
  const std::string p = std::to_string(state.range(0));
  RgbPlane photo, damaged;
  MaskPlane mask;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state) ||
      !LoadPlane("bench/data/damaged800_" + p + ".bmp", &damaged, state) ||
      !LoadMaskPlane("bench/data/mask800_" + p + ".bmp", &mask, state))
    return;
  RgbPlane work;
  MembraneReport r;
  for (auto _ : state) {
    state.PauseTiming();
    work = damaged;
    state.ResumeTiming();
    r = MembraneFill(&work, mask);
    benchmark::ClobberMemory();
  }
  Report(state, r);
  std::size_t masked = 0;
  for (std::size_t i = 0; i < mask.Size(); ++i) masked += mask.Data()[i] != 0;
  state.counters["masked"] = double(masked);
  state.counters["psnr_damaged_dB"] = WholePsnr(photo, damaged);
  state.counters["psnr_fill_dB"] = WholePsnr(photo, work);
  state.counters["psnr_hole_fill_dB"] = MaskedPsnr(photo, work, mask);
}
BENCHMARK(BM_MembraneFill800)->ArgName("pct")->Arg(1)->Arg(5)->Arg(20)->Unit(
    benchmark::kMillisecond);

// A 399 x 300 hole in the middle of the photo: one large component.
void BM_MembraneCentredHole(benchmark::State& state) {
  RgbPlane photo;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state)) return;
  MaskPlane mask;
  if (!mask.Resize(photo.Width(), photo.Height())) {
    state.SkipWithError("out of memory");
    return;
  }
  const int w = 399, h = 300, x0 = (photo.Width() - w) / 2, y0 = (photo.Height() - h) / 2;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) mask.At(x, y) = 1;
  RgbPlane work;
  MembraneReport r;
  for (auto _ : state) {
    state.PauseTiming();
    work = photo;
    state.ResumeTiming();
    r = MembraneFill(&work, mask);
    benchmark::ClobberMemory();
  }
  Report(state, r);
  state.counters["psnr_hole_fill_dB"] = MaskedPsnr(photo, work, mask);
}
BENCHMARK(BM_MembraneCentredHole)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
