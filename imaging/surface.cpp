// Image surfaces: creation of a black 24-bit bitmap in its own memory context, and
// the row-by-row copies between a surface and a decoded picture.
#include "imaging/surface.h"

#include <algorithm>

#include "imaging/pixel_rows.h"

bool CreateSurface(int width, int height, ImageSurface* surface) {
  const BITMAPINFO info = Make24BitInfo(width, height);
  UniqueDC dc(CreateCompatibleDC(nullptr));
  if (!dc) return false;
  UniqueBitmap bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
  if (!bitmap) return false;
  SelectObject(dc.get(), bitmap.get());
  // The replaced bitmap and context are released here.
  surface->hBitmap = std::move(bitmap);
  surface->hMemDC = std::move(dc);
  surface->nWidth = width;
  surface->nHeight = height;
  surface->bLoaded = 1;
  return true;
}

void FillSurface(const RgbImage& image, ImageSurface* surface) {
  Bitmap* bitmap = surface->hBitmap.get();
  if (bitmap == nullptr) return;
  const int w = std::min(image.width, bitmap->Width());
  const int h = std::min(image.height, bitmap->Height());
  for (int y = 0; y < h; ++y) SwapRedBlue(image.At(0, y), bitmap->RowFromTop(y), std::size_t(w));
}

RgbImage SurfaceImage(const ImageSurface& surface) {
  RgbImage image;
  const Bitmap* bitmap = surface.hBitmap.get();
  if (bitmap == nullptr || surface.nWidth <= 0 || surface.nHeight <= 0) return image;
  image.width = std::min(surface.nWidth, bitmap->Width());
  image.height = std::min(surface.nHeight, bitmap->Height());
  image.rgb.resize(std::size_t(image.width) * std::size_t(image.height) * 3);
  for (int y = 0; y < image.height; ++y)
    SwapRedBlue(bitmap->RowFromTop(y), image.At(0, y), std::size_t(image.width));
  return image;
}
