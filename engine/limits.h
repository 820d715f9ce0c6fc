// The largest picture the engine works on. Every plane, grid and list is sized to
// the picture, so the limit is a memory budget: about 170 bytes a pixel at most
// (three colour planes and three grids of doubles, the mask, its list and the
// surfaces), some 6.8 GB at the pixel limit.
#pragma once

#include <cstdint>

constexpr int kMaxImageSide = 16384;
constexpr std::uint64_t kMaxImagePixels = 40000000;
constexpr std::uint64_t kBytesPerPixelBudget = 170;
