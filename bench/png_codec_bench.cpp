// The PNG reader: refusing a header of 100000 x 100000 (the limits are met before
// anything is allocated or inflated, so it costs about what opening the file
// does), beside decoding the 800 x 800 photo written by libpng, for scale.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_data.h"
#include "imaging/png_codec.h"
#include "tests/support/imaging/encoders.h"

namespace {

void BM_RefuseOversizeHeader(benchmark::State& state) {
  const std::vector<std::uint8_t> file = imagetest::PngHeaderOnly(100000, 100000);
  for (auto _ : state) {
    ImageReadResult r = DecodePng(file.data(), file.size());
    if (r.error != ImageError::kTooLarge) {
      state.SkipWithError(("not refused as too large: " + r.reason).c_str());
      break;
    }
    benchmark::DoNotOptimize(r.reason.data());
  }
}
BENCHMARK(BM_RefuseOversizeHeader)->Unit(benchmark::kMicrosecond);

void BM_DecodePhoto800(benchmark::State& state) {
  RgbImage photo;
  if (!ReadPicture("bench/data/photo800.bmp", &photo, state)) return;
  imagetest::PngSpec spec;
  spec.width = photo.width;
  spec.height = photo.height;
  spec.colour = imagetest::kRgb;
  spec.depth = 8;
  spec.samples.assign(photo.rgb.begin(), photo.rgb.end());
  const std::vector<std::uint8_t> file = imagetest::EncodePngLib(spec);
  for (auto _ : state) {
    ImageReadResult r = DecodePng(file.data(), file.size());
    if (!r.ok()) {
      state.SkipWithError(r.reason.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.image.rgb.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_DecodePhoto800)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
