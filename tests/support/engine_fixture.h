// Shared pieces of the engine tests: a headless dialog with scripted ticks, picture
// builders and a plane reset (the planes are process-wide).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "imaging/image_files.h"

// Zeroes the four planes, as at program start.
void ClearPlanes();

RgbImage MakeImage(int w, int h, const std::function<COLORREF(int, int)>& pixel);
// Black except at the listed (x, y) positions, which are white.
RgbImage MakeMask(int w, int h, const std::vector<std::pair<int, int>>& marked);
// A smooth colour picture with some edges, varied by `seed`.
RgbImage MakePhoto(int w, int h, unsigned seed);
// Scratches (lines) and a few blocks, varied by `seed`.
RgbImage MakeScratchMask(int w, int h, unsigned seed, int lines);

class TestDialog : public CImageFiles {
 public:
  TestDialog() { SetDefaults(); }
  // Ticks handed out by GetTickCount, in order; a fixed clock once they run out.
  std::deque<std::uint32_t> ticks;
  std::uint32_t GetTickCount() override {
    if (ticks.empty()) return 1000;
    const std::uint32_t t = ticks.front();
    ticks.pop_front();
    return t;
  }
  std::vector<std::pair<int, float>> cycles;
  void CycleMeasured(int cycle, float psnr) override { cycles.emplace_back(cycle, psnr); }
};

// Loads damaged, mask (and original if given) pictures; fails the test on refusal.
void LoadPictures(TestDialog& dlg, const RgbImage& damaged, const RgbImage& mask,
                  const RgbImage* original = nullptr);
