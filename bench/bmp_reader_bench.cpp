// Decoding an 800 x 800 file (from disk and from memory), filling the planes from a
// loaded surface and building the mask list from a loaded mask surface, and the
// whole load commands that put them together.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "bench/bench_data.h"

namespace {
std::string DamagedPath(int percent) {
  return SourcePath("bench/data/damaged800_" + std::to_string(percent) + ".bmp");
}
std::string MaskPath(int percent) {
  return SourcePath("bench/data/mask800_" + std::to_string(percent) + ".bmp");
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void BM_ReadBmpFile(benchmark::State& state) {
  const std::string path = SourcePath("bench/data/photo800.bmp");
  for (auto _ : state) {
    ImageReadResult r = ReadBmpFile(path);
    if (!r.ok) {
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
    if (!r.ok) {
      state.SkipWithError(r.reason.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.image.rgb.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);

void BM_ReadDamagedPixels(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, 5, state)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ReadDamagedPixels)->Unit(benchmark::kMillisecond);

void BM_BuildMaskList(benchmark::State& state) {
  const int percent = int(state.range(0));
  CImageFiles dlg;
  if (!Load800(dlg, percent, state)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dlg.BuildMaskList(dlg.m_surfMask.hMemDC.get()));
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(dlg.m_nMaskCount);
}
BENCHMARK(BM_BuildMaskList)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

// The two calls together, as a load of a damaged image and its mask makes them.
void BM_ReadDamagedPixelsAndBuildMaskList(benchmark::State& state) {
  CImageFiles dlg;
  if (!Load800(dlg, 5, state)) return;
  for (auto _ : state) {
    dlg.ReadDamagedPixels(dlg.m_surfDamaged.hMemDC.get());
    benchmark::DoNotOptimize(dlg.BuildMaskList(dlg.m_surfMask.hMemDC.get()));
    benchmark::ClobberMemory();
  }
  state.counters["masked"] = double(dlg.m_nMaskCount);
}
BENCHMARK(BM_ReadDamagedPixelsAndBuildMaskList)->Unit(benchmark::kMillisecond);

// The whole load commands: file read, decode, surfaces, planes, grids, mask list.
void BM_LoadDamagedAndMask(benchmark::State& state) {
  CImageFiles dlg;
  dlg.SetDefaults();
  const std::string damaged = DamagedPath(5), mask = MaskPath(5);
  for (auto _ : state) {
    FileResult r = dlg.LoadDamaged(damaged);
    if (r.ok) r = dlg.LoadMask(mask);
    if (!r.ok) {
      state.SkipWithError(r.Text().c_str());
      break;
    }
  }
}
BENCHMARK(BM_LoadDamagedAndMask)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
