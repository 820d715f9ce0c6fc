// Filling the engine's planes from a decoded 800 x 800 picture and building the
// mask list from a decoded mask with 1, 5 and 20 % masked.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_data.h"

namespace {
PixelBytes Bytes(const RgbImage& image) {
  return PixelBytes{image.width, image.height, image.rgb.data(), std::size_t(image.width) * 3};
}

void BM_ReadDamagedPixels(benchmark::State& state) {
  CBenchSession s;
  RgbImage picture;
  if (!ReadPicture("bench/data/damaged800_5.bmp", &picture, state)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.engine.ReadDamagedPixels(Bytes(picture)));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ReadDamagedPixels)->Unit(benchmark::kMillisecond);

void BM_BuildMaskList(benchmark::State& state) {
  CBenchSession s;
  RgbImage picture, mask;
  const std::string p = std::to_string(state.range(0));
  if (!ReadPicture("bench/data/damaged800_" + p + ".bmp", &picture, state) ||
      !ReadPicture("bench/data/mask800_" + p + ".bmp", &mask, state))
    return;
  s.engine.ReadDamagedPixels(Bytes(picture));
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.engine.BuildMaskList(Bytes(mask)));
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(s.engine.m_nMaskCount);
}
BENCHMARK(BM_BuildMaskList)->ArgNames({"pct"})->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
