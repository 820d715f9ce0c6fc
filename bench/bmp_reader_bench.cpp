// Decoding the 800 x 800 photo's BMP file, from disk and from memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "bench/bench_data.h"

namespace {
std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void BM_ReadBmpFile(benchmark::State& state) {
  const std::string path = SourcePath("bench/data/photo800.bmp");
  for (auto _ : state) {
    ImageReadResult r = ReadBmpFile(path);
    if (!r.ok()) {
      state.SkipWithError(r.reason.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.image.rgb.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * 800 * 800 * 3);
}
BENCHMARK(BM_ReadBmpFile)->Unit(benchmark::kMillisecond);

void BM_DecodeBmp(benchmark::State& state) {
  const std::vector<std::uint8_t> file = ReadWholeFile(SourcePath("bench/data/photo800.bmp"));
  for (auto _ : state) {
    ImageReadResult r = DecodeBmp(file.data(), file.size());
    if (!r.ok()) {
      state.SkipWithError(r.reason.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.image.rgb.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
