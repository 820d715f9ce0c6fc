// In-memory graphics layer: 24-bit device-independent bitmaps and memory drawing
// contexts with the handful of raster operations the rest of the program uses.
//
// A bitmap stores its pixels exactly as a 24-bit DIB does: rows bottom-up, three
// bytes per pixel in the order blue, green, red, each row padded to 4 bytes.
// Coordinates given to GetPixel, SetPixelV and BitBlt count from the top-left
// pixel, x to the right and y downwards. A colour is packed red in bits 0-7,
// green in bits 8-15, blue in bits 16-23.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using COLORREF = std::uint32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
constexpr DWORD SRCCOPY = 0x00CC0020u;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD BI_RGB = 0;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return BYTE(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return BYTE((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return BYTE((c >> 16) & 0xFF); }

struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  LONG biWidth = 0;
  LONG biHeight = 0;
  WORD biPlanes = 1;
  WORD biBitCount = 24;
  DWORD biCompression = BI_RGB;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
};

// Row stride of a 24-bit row of `width` pixels, or 0 when it does not fit.
std::size_t DibStride(std::int64_t width);
// The header of a 24-bit bottom-up bitmap of width x height pixels, declaring an
// image size of height x (width + 1) x 3 bytes (0 for an empty size); the
// resolution and colour-count fields stay 0.
BITMAPINFO Make24BitInfo(int width, int height);

// A 24-bit bitmap, black when created.
class Bitmap {
 public:
  Bitmap(int width, int height, std::vector<BYTE> bits, std::size_t stride)
      : width_(width), height_(height), stride_(stride), bits_(std::move(bits)) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::size_t Stride() const { return stride_; }
  // Pixel bytes of the row `y` counted from the top (blue, green, red, ...).
  BYTE* RowFromTop(int y) { return bits_.data() + std::size_t(height_ - 1 - y) * stride_; }
  const BYTE* RowFromTop(int y) const {
    return bits_.data() + std::size_t(height_ - 1 - y) * stride_;
  }
  BYTE* Bits() { return bits_.data(); }
  const BYTE* Bits() const { return bits_.data(); }

 private:
  int width_;
  int height_;
  std::size_t stride_;
  std::vector<BYTE> bits_;
};

// A memory drawing context; at most one bitmap is selected into it.
class DeviceContext {
 public:
  Bitmap* selected = nullptr;
};

using HBITMAP = Bitmap*;
using HDC = DeviceContext*;
using HGDIOBJ = Bitmap*;

HDC CreateCompatibleDC(HDC reference);
// Null when the header is not 24-bit uncompressed with positive sizes, or the
// pixels cannot be allocated. `bits`, `section` and `offset` must be null/0.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                         void* section, DWORD offset);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
COLORREF GetPixel(HDC dc, int x, int y);
BOOL SetPixelV(HDC dc, int x, int y, COLORREF colour);
// Copies w x h pixels from (sx, sy) of src to (x, y) of dst, clipped to both bitmaps.
BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
// Rows bottom-up from scan line `start`; the row layout follows info's biWidth.
int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
              const BITMAPINFO* info, UINT usage);
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage);
BOOL DeleteObject(HGDIOBJ object);
BOOL DeleteDC(HDC dc);

// Owning handles, so a re-created surface releases what it replaces.
struct DcDeleter {
  void operator()(DeviceContext* dc) const { DeleteDC(dc); }
};
struct BitmapDeleter {
  void operator()(Bitmap* bitmap) const { DeleteObject(bitmap); }
};
using UniqueDC = std::unique_ptr<DeviceContext, DcDeleter>;
using UniqueBitmap = std::unique_ptr<Bitmap, BitmapDeleter>;
