// In-memory graphics layer. Every bitmap keeps the 24-bit DIB layout (bottom-up
// rows, blue-green-red, 4-byte row padding); a context only points at the bitmap
// selected into it and owns nothing.
#include "imaging/gdi.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

std::size_t DibStride(std::int64_t width) {
  if (width <= 0 || width > (std::numeric_limits<std::int32_t>::max() - 3) / 3) return 0;
  return static_cast<std::size_t>((width * 3 + 3) / 4 * 4);
}

BITMAPINFO Make24BitInfo(int width, int height) {
  BITMAPINFO info;
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  // Unsigned 64-bit: for any two int sizes the product fits (below 3 x 2^62).
  info.bmiHeader.biSizeImage =
      width > 0 && height > 0 ? DWORD(std::uint64_t(height) * (std::uint64_t(width) + 1) * 3) : 0;
  return info;
}

HDC CreateCompatibleDC(HDC) { return new (std::nothrow) DeviceContext(); }

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD offset) {
  if (info == nullptr || usage != DIB_RGB_COLORS || bits != nullptr || section != nullptr ||
      offset != 0)
    return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight <= 0)
    return nullptr;
  const std::size_t stride = DibStride(h.biWidth);
  // Bitmaps above 1 GiB are refused outright rather than left to the allocator.
  constexpr std::size_t kMaxBitmapBytes = std::size_t(1) << 30;
  if (stride == 0 || std::size_t(h.biHeight) > kMaxBitmapBytes / stride) return nullptr;
  try {
    std::vector<BYTE> pixels(stride * std::size_t(h.biHeight), 0);
    return new Bitmap(h.biWidth, h.biHeight, std::move(pixels), stride);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  if (dc == nullptr) return nullptr;
  Bitmap* previous = dc->selected;
  dc->selected = object;
  return previous;
}

COLORREF GetPixel(HDC dc, int x, int y) {
  if (dc == nullptr || dc->selected == nullptr) return CLR_INVALID;
  const Bitmap& b = *dc->selected;
  if (x < 0 || y < 0 || x >= b.Width() || y >= b.Height()) return CLR_INVALID;
  const BYTE* p = b.RowFromTop(y) + std::size_t(x) * 3;
  return RGB(p[2], p[1], p[0]);
}

BOOL SetPixelV(HDC dc, int x, int y, COLORREF colour) {
  if (dc == nullptr || dc->selected == nullptr) return FALSE;
  Bitmap& b = *dc->selected;
  if (x < 0 || y < 0 || x >= b.Width() || y >= b.Height()) return FALSE;
  BYTE* p = b.RowFromTop(y) + std::size_t(x) * 3;
  p[0] = GetBValue(colour);
  p[1] = GetGValue(colour);
  p[2] = GetRValue(colour);
  return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  if (rop != SRCCOPY || dst == nullptr || src == nullptr || dst->selected == nullptr ||
      src->selected == nullptr)
    return FALSE;
  Bitmap& d = *dst->selected;
  const Bitmap& s = *src->selected;
  // Clip the rectangle against both bitmaps, moving both origins together.
  std::int64_t dx0 = x, dy0 = y, sx0 = sx, sy0 = sy, cw = w, ch = h;
  if (dx0 < 0) { cw += dx0; sx0 -= dx0; dx0 = 0; }
  if (dy0 < 0) { ch += dy0; sy0 -= dy0; dy0 = 0; }
  if (sx0 < 0) { cw += sx0; dx0 -= sx0; sx0 = 0; }
  if (sy0 < 0) { ch += sy0; dy0 -= sy0; sy0 = 0; }
  cw = std::min({cw, std::int64_t(d.Width()) - dx0, std::int64_t(s.Width()) - sx0});
  ch = std::min({ch, std::int64_t(d.Height()) - dy0, std::int64_t(s.Height()) - sy0});
  if (cw <= 0 || ch <= 0) return TRUE;
  if (&d == &s) {
    // Same bitmap: go through a copy so overlapping rectangles copy correctly.
    std::vector<BYTE> rows(std::size_t(cw) * 3 * std::size_t(ch));
    for (std::int64_t r = 0; r < ch; ++r)
      std::memcpy(&rows[std::size_t(r * cw * 3)], s.RowFromTop(int(sy0 + r)) + sx0 * 3,
                  std::size_t(cw) * 3);
    for (std::int64_t r = 0; r < ch; ++r)
      std::memcpy(d.RowFromTop(int(dy0 + r)) + dx0 * 3, &rows[std::size_t(r * cw * 3)],
                  std::size_t(cw) * 3);
    return TRUE;
  }
  for (std::int64_t r = 0; r < ch; ++r)
    std::memcpy(d.RowFromTop(int(dy0 + r)) + dx0 * 3, s.RowFromTop(int(sy0 + r)) + sx0 * 3,
                std::size_t(cw) * 3);
  return TRUE;
}

namespace {
// Scan lines [start, start + lines) of the bitmap that the call may touch, or 0.
UINT ScanLines(const Bitmap& b, const BITMAPINFO* info, UINT start, UINT lines) {
  if (info == nullptr || info->bmiHeader.biBitCount != 24 ||
      info->bmiHeader.biCompression != BI_RGB || info->bmiHeader.biWidth <= 0)
    return 0;
  if (start >= UINT(b.Height())) return 0;
  return std::min<UINT>(lines, UINT(b.Height()) - start);
}
}  // namespace

namespace {
// The scan lines a SetDIBits or GetDIBits call may touch and the caller's row
// stride, or 0 lines when the call cannot be made.
struct DibCall {
  UINT lines = 0;
  std::size_t callerStride = 0;
  std::size_t copy = 0;  // bytes of each row that both layouts hold
};
DibCall CheckDibCall(HBITMAP bitmap, UINT start, UINT lines, const void* bits,
                     const BITMAPINFO* info, UINT usage) {
  DibCall call;
  if (bitmap == nullptr || bits == nullptr || usage != DIB_RGB_COLORS) return call;
  const UINT n = ScanLines(*bitmap, info, start, lines);
  const std::size_t stride = DibStride(info ? info->bmiHeader.biWidth : 0);
  if (n == 0 || stride == 0) return call;
  call.lines = n;
  call.callerStride = stride;
  call.copy =
      std::min<std::size_t>(std::size_t(info->bmiHeader.biWidth), std::size_t(bitmap->Width())) * 3;
  return call;
}
}  // namespace

int SetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
              const BITMAPINFO* info, UINT usage) {
  const DibCall call = CheckDibCall(bitmap, start, lines, bits, info, usage);
  const BYTE* src = static_cast<const BYTE*>(bits);
  for (UINT i = 0; i < call.lines; ++i)  // scan line 0 is the bottom row
    std::memcpy(bitmap->Bits() + std::size_t(start + i) * bitmap->Stride(),
                src + i * call.callerStride, call.copy);
  return int(call.lines);
}

int GetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage) {
  const DibCall call = CheckDibCall(bitmap, start, lines, bits, info, usage);
  BYTE* dst = static_cast<BYTE*>(bits);
  for (UINT i = 0; i < call.lines; ++i) {
    std::memcpy(dst + i * call.callerStride,
                bitmap->Bits() + std::size_t(start + i) * bitmap->Stride(), call.copy);
    std::memset(dst + i * call.callerStride + call.copy, 0, call.callerStride - call.copy);
  }
  return int(call.lines);
}

BOOL DeleteObject(HGDIOBJ object) {
  delete object;
  return object != nullptr;
}

BOOL DeleteDC(HDC dc) {
  delete dc;
  return dc != nullptr;
}
