// Image surfaces: creation of a black picture and the copy of a decoded one into it.
#include "imaging/surface.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

bool CreateSurface(int width, int height, ImageSurface* surface) {
  // Pictures above 1 GiB are refused outright rather than left to the allocator.
  constexpr std::size_t kMaxPictureBytes = std::size_t(1) << 30;
  if (width <= 0 || height <= 0 ||
      std::size_t(height) > kMaxPictureBytes / 3 / std::size_t(width))
    return false;
  RgbImage picture;
  try {
    picture.rgb.assign(std::size_t(width) * std::size_t(height) * 3, 0);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  picture.width = width;
  picture.height = height;
  // The replaced picture is released here.
  surface->picture = std::move(picture);
  surface->nWidth = width;
  surface->nHeight = height;
  surface->bLoaded = 1;
  return true;
}

void FillSurface(const RgbImage& image, ImageSurface* surface) {
  RgbImage& picture = surface->picture;
  const int w = std::min(image.width, picture.width);
  const int h = std::min(image.height, picture.height);
  if (w <= 0) return;
  for (int y = 0; y < h; ++y) std::memcpy(picture.At(0, y), image.At(0, y), std::size_t(w) * 3);
}
