// The quality metrics on the 800 x 800 photo against its damaged version with 5 %
// of the pixels masked: whole-picture SSIM, SSIM over the mask's bounding box,
// the masked PSNR, and MeasureQuality (damaged and membrane result) as a whole.
#include <benchmark/benchmark.h>

#include "bench/bench_planes.h"
#include "engine/membrane.h"
#include "engine/metrics.h"

namespace {
struct Pictures {
  RgbPlane photo, damaged;
  MaskPlane mask;
  bool Load(benchmark::State& state) {
    return LoadPlane("bench/data/photo800.bmp", &photo, state) &&
           LoadPlane("bench/data/damaged800_5.bmp", &damaged, state) &&
           LoadMaskPlane("bench/data/mask800_5.bmp", &mask, state);
  }
};

void BM_Ssim(benchmark::State& state) {
  Pictures p;
  if (!p.Load(state)) return;
  double s = 0.0;
  for (auto _ : state) {
    s = Ssim(p.photo, p.damaged);
    benchmark::DoNotOptimize(s);
  }
  state.counters["ssim"] = s;
}
BENCHMARK(BM_Ssim)->Unit(benchmark::kMillisecond);

void BM_SsimInBox(benchmark::State& state) {
  Pictures p;
  if (!p.Load(state)) return;
  PixelBox box;
  MaskBoundingBox(p.mask, &box);
  double s = 0.0;
  for (auto _ : state) {
    s = SsimInBox(p.photo, p.damaged, box);
    benchmark::DoNotOptimize(s);
  }
  state.counters["ssim_box"] = s;
  state.counters["box_pixels"] = double(box.x1 - box.x0) * double(box.y1 - box.y0);
}
BENCHMARK(BM_SsimInBox)->Unit(benchmark::kMillisecond);

void BM_MaskedPsnr(benchmark::State& state) {
  Pictures p;
  if (!p.Load(state)) return;
  double v = 0.0;
  for (auto _ : state) {
    v = MaskedPsnr(p.photo, p.damaged, p.mask);
    benchmark::DoNotOptimize(v);
  }
  state.counters["psnr_hole_dB"] = v;
}
BENCHMARK(BM_MaskedPsnr)->Unit(benchmark::kMillisecond);

void BM_MeasureQuality(benchmark::State& state) {
  Pictures p;
  if (!p.Load(state)) return;
  RgbPlane result = p.damaged;
  MembraneFill(&result, p.mask);
  QualityMetrics q{};
  for (auto _ : state) {
    q = MeasureQuality(p.photo, p.damaged, result, p.mask);
    benchmark::DoNotOptimize(q);
  }
  state.counters["psnr_hole_damaged_dB"] = q.psnrHoleDamaged;
  state.counters["psnr_hole_result_dB"] = q.psnrHoleResult;
  state.counters["ssim_damaged"] = q.ssimDamaged;
  state.counters["ssim_result"] = q.ssimResult;
  state.counters["ssim_box_damaged"] = q.ssimBoxDamaged;
  state.counters["ssim_box_result"] = q.ssimBoxResult;
}
BENCHMARK(BM_MeasureQuality)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
