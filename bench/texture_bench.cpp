// The texture fill on the 800 x 800 photo: the scratch-and-text masks at 1, 5 and 20 %
// of the pixels (from the damaged pictures) and a centred hole of 399 x 300 cut into
// the photo itself, as the membrane's benchmark takes them, with the vector kernel
// and with the plain one. The work plane is refilled outside the timing. Counters:
// the blocks modelled and the hole PSNR of the fill against the photo.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_planes.h"
#include "engine/metrics.h"
#include "engine/texture.h"

namespace {
void Run(benchmark::State& state, const RgbPlane& photo, const RgbPlane& damaged,
         const MaskPlane& mask, bool vector) {
  TextureOptions options;
  options.vectorKernel = vector;
  RgbPlane work;
  TextureReport r;
  for (auto _ : state) {
    state.PauseTiming();
    work = damaged;
    state.ResumeTiming();
    r = TextureFill(&work, mask, options);
    benchmark::ClobberMemory();
  }
  if (!r.outcome.ok()) {
    state.SkipWithError(r.outcome.reason.c_str());
    return;
  }
  state.counters["blocks"] = r.blocks;
  state.counters["psnr_hole_fill_dB"] = MaskedPsnr(photo, work, mask);
}

// Args: percent masked, vector kernel.
void BM_TextureFill800(benchmark::State& state) {
  const std::string p = std::to_string(state.range(0));
  RgbPlane photo, damaged;
  MaskPlane mask;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state) ||
      !LoadPlane("bench/data/damaged800_" + p + ".bmp", &damaged, state) ||
      !LoadMaskPlane("bench/data/mask800_" + p + ".bmp", &mask, state))
    return;
  Run(state, photo, damaged, mask, state.range(1) != 0);
}
BENCHMARK(BM_TextureFill800)
    ->ArgNames({"pct", "vector"})
    ->ArgsProduct({{1, 5, 20}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// A 399 x 300 hole in the middle of the photo.
void BM_TextureCentredHole(benchmark::State& state) {
  RgbPlane photo;
  MaskPlane mask;
  if (!LoadPlane("bench/data/photo800.bmp", &photo, state)) return;
  if (!mask.Resize(photo.Width(), photo.Height())) {
    state.SkipWithError("out of memory");
    return;
  }
  const int w = 399, h = 300, x0 = (photo.Width() - w) / 2, y0 = (photo.Height() - h) / 2;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) mask.At(x, y) = 1;
  Run(state, photo, photo, mask, true);
}
BENCHMARK(BM_TextureCentredHole)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
