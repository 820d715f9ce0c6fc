// The JPEG reader: refusing a frame of 65000 x 65000 (the limits are met at the
// frame header, before the decompressor allocates or decodes anything), beside
// decoding the 800 x 800 photo compressed by libjpeg, for scale.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_data.h"
#include "imaging/jpeg_reader.h"
#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

namespace {

void BM_RefuseOversizeFrame(benchmark::State& state) {
  std::vector<std::uint8_t> file =
      imagetest::EncodeJpegLib(imagetest::JpegOf(imagetest::PatternImage(16, 16), 90));
  const std::size_t sof = imagetest::JpegMarker(file, 0xC0);
  for (std::size_t at : {sof + 3, sof + 5}) {  // height, width: 65000
    file[at] = 0xFD;
    file[at + 1] = 0xE8;
  }
  for (auto _ : state) {
    ImageReadResult r = DecodeJpeg(file.data(), file.size());
    if (r.error != ImageError::kTooLarge) {
      state.SkipWithError(("not refused as too large: " + r.reason).c_str());
      break;
    }
    benchmark::DoNotOptimize(r.reason.data());
  }
}
BENCHMARK(BM_RefuseOversizeFrame)->Unit(benchmark::kMicrosecond);

void BM_DecodePhoto800(benchmark::State& state) {
  RgbImage photo;
  if (!ReadPicture("bench/data/photo800.bmp", &photo, state)) return;
  const std::vector<std::uint8_t> file = imagetest::EncodeJpegLib(imagetest::JpegOf(photo, 90));
  for (auto _ : state) {
    ImageReadResult r = DecodeJpeg(file.data(), file.size());
    if (!r.ok()) {
      state.SkipWithError(r.reason.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.image.rgb.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * 800 * 800 * 3);
}
BENCHMARK(BM_DecodePhoto800)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
