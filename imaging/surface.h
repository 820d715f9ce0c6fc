// Image surfaces: the picture behind a pane (damaged, mask, original or result),
// its size and whether it has been created. The picture is the decoded form
// (rows from the top, red-green-blue); the window shows it and the writers write it.
#pragma once

#include <cstdint>

#include "imaging/rgb_image.h"

struct ImageSurface {
  RgbImage picture;
  int nWidth = 0;
  int nHeight = 0;
  std::uint8_t bLoaded = 0;
};

// Makes `surface` a black width x height picture, replacing all its fields.
// Returns false, leaving `surface` as it was, for an empty size, a picture above
// 1 GiB, or when the memory cannot be had.
bool CreateSurface(int width, int height, ImageSurface* surface);

// Copies a decoded picture into the surface's top-left corner (clipped to it).
void FillSurface(const RgbImage& image, ImageSurface* surface);
