// The benchmark pictures as engine planes: read with ReadBmpFile from the source
// folder, copied into an RgbPlane (values 0..255) or a MaskPlane (1 where any
// channel is not zero). On a refusal the benchmark is skipped and false returned.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/planes.h"
#include "imaging/bmp_reader.h"

inline std::string BenchPath(const std::string& relative) {
  return std::string(RUVANTA_SOURCE_DIR) + "/" + relative;
}

inline bool ReadPicture(const std::string& relative, RgbImage* image, benchmark::State& state) {
  ImageReadResult r = ReadBmpFile(BenchPath(relative));
  if (!r.ok()) {
    state.SkipWithError((relative + ": " + r.reason).c_str());
    return false;
  }
  *image = std::move(r.image);
  return true;
}

inline bool LoadPlane(const std::string& relative, RgbPlane* plane, benchmark::State& state) {
  RgbImage image;
  if (!ReadPicture(relative, &image, state)) return false;
  if (!plane->Resize(image.width, image.height)) {
    state.SkipWithError("out of memory");
    return false;
  }
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < 3; ++c) plane->At(x, y)[c] = image.At(x, y)[c];
  return true;
}

inline bool LoadMaskPlane(const std::string& relative, MaskPlane* mask, benchmark::State& state) {
  RgbImage image;
  if (!ReadPicture(relative, &image, state)) return false;
  if (!mask->Resize(image.width, image.height)) {
    state.SkipWithError("out of memory");
    return false;
  }
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.At(x, y);
      mask->At(x, y) = (p[0] | p[1] | p[2]) != 0 ? 1 : 0;
    }
  return true;
}

// PSNR in decibels over the whole picture, as the engine's quality measure takes
// it: per-channel sums of squares, mse = ((SD2/n + SD1/n) + SD0/n) * (1/3).
inline double WholePsnr(const RgbPlane& reference, const RgbPlane& image) {
  double sd[3] = {0.0, 0.0, 0.0};
  for (int y = 0; y < reference.Height(); ++y)
    for (int x = 0; x < reference.Width(); ++x)
      for (int c = 0; c < 3; ++c) {
        const double e = reference.At(x, y)[c] - image.At(x, y)[c];
        sd[c] = e * e + sd[c];
      }
  const double n = double(reference.Width()) * double(reference.Height());
  const double mse = ((sd[2] / n + sd[1] / n) + sd[0] / n) * (1.0 / 3.0);
  return 20.0 * std::log10(255.0 / std::sqrt(mse));
}
