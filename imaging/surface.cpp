// Image surfaces: creation of a black 24-bit bitmap in its own memory context, and
// filling one from a decoded picture.
#include "imaging/surface.h"

#include <algorithm>

#include "imaging/bmp_reader.h"

bool CreateSurface(int width, int height, ImageSurface* surface) {
  BITMAPINFO info;
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  // Unsigned 64-bit: for any two int sizes the product fits (below 3 x 2^62), so
  // even a size the bitmap will refuse cannot overflow here.
  info.bmiHeader.biSizeImage =
      width > 0 && height > 0 ? DWORD(std::uint64_t(height) * (std::uint64_t(width) + 1) * 3) : 0;
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
  HDC dc = surface->hMemDC.get();
  const int w = std::min(image.width, surface->nWidth);
  const int h = std::min(image.height, surface->nHeight);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixelV(dc, x, y, image.Pixel(x, y));
}
