// Planes and masks for the tests of the measures and fills, made from a function of
// the pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "engine/planes.h"

namespace planetest {

// A width x height plane whose channel c of pixel (x, y) is f(x, y, c).
template <typename F>
RgbPlane MakePlane(int width, int height, F f) {
  RgbPlane p;
  EXPECT_TRUE(p.Resize(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) p.At(x, y)[c] = f(x, y, c);
  return p;
}

// Whole values 0..255 drawn from `seed`.
inline RgbPlane Noise(int width, int height, std::uint32_t seed) {
  std::mt19937 gen(seed);
  return MakePlane(width, height, [&](int, int, int) { return double(gen() % 256); });
}

// A mask whose cell (x, y) is 1 where masked(x, y) holds.
template <typename F>
MaskPlane MakeMask(int width, int height, F masked) {
  MaskPlane m;
  EXPECT_TRUE(m.Resize(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) m.At(x, y) = masked(x, y) ? 1 : 0;
  return m;
}

}  // namespace planetest
