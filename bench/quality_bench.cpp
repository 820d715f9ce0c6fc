// The quality measure (PSNR of the damaged and the work plane against the
// original) over an 800 x 800 extent.
#include <benchmark/benchmark.h>

#include <string>

#include "imaging/image_files.h"

namespace {
std::string SourcePath(const std::string& relative) {
  return std::string(RUVANTA_SOURCE_DIR) + "/" + relative;
}

void BM_MeasurePsnr(benchmark::State& state) {
  CImageFiles dlg;
  dlg.SetDefaults();
  FileResult r = dlg.LoadDamaged(SourcePath("bench/data/damaged800_5.bmp"));
  if (r.ok) r = dlg.LoadMask(SourcePath("bench/data/mask800_5.bmp"));
  if (r.ok) r = dlg.LoadOriginal(SourcePath("bench/data/photo800.bmp"));
  if (!r.ok) {
    state.SkipWithError(r.Text().c_str());
    return;
  }
  for (auto _ : state) {
    dlg.MeasurePsnr();
    benchmark::ClobberMemory();
  }
  state.counters["psnr_damaged_dB"] = double(dlg.m_fPsnrDamaged);
}
BENCHMARK(BM_MeasurePsnr)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
