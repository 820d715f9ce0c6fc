// The benchmark pictures: paths and loading into a headless dialog.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "imaging/image_files.h"

inline std::string SourcePath(const std::string& relative) {
  return std::string(RUVANTA_SOURCE_DIR) + "/" + relative;
}

// Loads a damaged image, its mask and (unless empty) the original, all relative to
// the source folder; on a refusal the benchmark is skipped and false returned.
inline bool LoadFiles(CImageFiles& dlg, const std::string& damaged, const std::string& mask,
                      const std::string& original, benchmark::State& state) {
  dlg.SetDefaults();
  FileResult r = dlg.LoadDamaged(SourcePath(damaged));
  if (r.ok) r = dlg.LoadMask(SourcePath(mask));
  if (r.ok && !original.empty()) r = dlg.LoadOriginal(SourcePath(original));
  if (!r.ok) state.SkipWithError(r.Text().c_str());
  return r.ok;
}

// The 800 x 800 photo damaged at `percent` % of its pixels, with its mask and original.
inline bool Load800(CImageFiles& dlg, int percent, benchmark::State& state) {
  const std::string p = std::to_string(percent);
  return LoadFiles(dlg, "bench/data/damaged800_" + p + ".bmp", "bench/data/mask800_" + p + ".bmp",
                   "bench/data/photo800.bmp", state);
}
