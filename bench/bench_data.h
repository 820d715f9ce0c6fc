// The benchmark pictures and a headless session to run them in: the 800 x 800
// photo with 1, 5 and 20 % masked by scratches and text (bench/data), a 799 x 600
// crop of it with a centred hole of 399 x 300 = 119,700 pixels painted one flat
// colour, and the 800 x 800 frame fully masked (a flat damaged picture). The last
// two are made in memory from the photo.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "imaging/image_reader.h"
#include "session/headless_session.h"

inline std::string SourcePath(const std::string& relative) {
  return std::string(RUVANTA_SOURCE_DIR) + "/" + relative;
}

// A session whose work plane can be put back to the damaged picture between
// timed runs (the grids and the diffusion's region cache stay, as between runs).
class CBenchSession : public CHeadlessSession {
 public:
  void Restart() {
    std::copy(engine.g_damaged.Data(),
              engine.g_damaged.Data() + std::size_t(engine.Width()) * engine.Height() * 3,
              engine.g_work.Data());
  }
  bool Ok(benchmark::State& state) {
    if (engine.CanRun()) return true;
    state.SkipWithError(CRestoreEngine::kNotLoadedText);
    return false;
  }
};

inline bool Check(const FileResult& r, benchmark::State& state) {
  if (!r.ok) state.SkipWithError(r.Text().c_str());
  return r.ok;
}

inline bool ReadPicture(const std::string& relative, RgbImage* image, benchmark::State& state) {
  ImageReadResult r = ReadImageFile(SourcePath(relative));
  if (!r.ok()) {
    state.SkipWithError((relative + ": " + r.reason).c_str());
    return false;
  }
  *image = std::move(r.image);
  return true;
}

// Loads a damaged image, its mask and (unless empty) the original, all relative to
// the source folder; on a refusal the benchmark is skipped and false returned.
inline bool LoadFiles(CBenchSession& s, const std::string& damaged, const std::string& mask,
                      const std::string& original, benchmark::State& state) {
  if (!Check(s.files.LoadDamaged(SourcePath(damaged)), state)) return false;
  if (!Check(s.files.LoadMask(SourcePath(mask)), state)) return false;
  return original.empty() || Check(s.files.LoadOriginal(SourcePath(original)), state);
}

// The 800 x 800 photo damaged at `percent` % of its pixels, with its mask and original.
inline bool Load800(CBenchSession& s, int percent, benchmark::State& state) {
  const std::string p = std::to_string(percent);
  return LoadFiles(s, "bench/data/damaged800_" + p + ".bmp", "bench/data/mask800_" + p + ".bmp",
                   "bench/data/photo800.bmp", state);
}

enum class Shape { kHole, kFull };

// The hole (799 x 600, 399 x 300 masked in the middle) or the full mask (800 x 800,
// every pixel masked), with the photo as the original.
inline bool LoadShape(CBenchSession& s, Shape shape, benchmark::State& state) {
  RgbImage photo;
  if (!ReadPicture("bench/data/photo800.bmp", &photo, state)) return false;
  const bool hole = shape == Shape::kHole;
  const int w = hole ? 799 : 800, h = hole ? 600 : 800;
  const int x0 = hole ? (w - 399) / 2 : 0, y0 = hole ? (h - 300) / 2 : 0;
  const int x1 = hole ? x0 + 399 : w, y1 = hole ? y0 + 300 : h;
  RgbImage original, damaged, mask;
  for (RgbImage* p : {&original, &damaged, &mask}) {
    p->width = w;
    p->height = h;
    p->rgb.assign(std::size_t(w) * h * 3, 0);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* src = photo.At(x, hole ? y + 100 : y);
      const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
      for (int c = 0; c < 3; ++c) {
        original.At(x, y)[c] = src[c];
        damaged.At(x, y)[c] = in ? std::uint8_t(c == 0 ? 200 : c == 1 ? 120 : 40) : src[c];
        mask.At(x, y)[c] = in ? 255 : 0;
      }
    }
  return Check(s.files.LoadDamagedImage(damaged), state) &&
         Check(s.files.LoadMaskImage(mask), state) &&
         Check(s.files.LoadOriginalImage(original), state);
}
