// The in-memory graphics layer: bitmap creation, pixel access and its colour
// packing, block copies clipped to both bitmaps, and the row layout of
// SetDIBits / GetDIBits (bottom-up, blue-green-red, rows padded to 4 bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "imaging/gdi.h"

namespace {

BITMAPINFO Info(LONG w, LONG h) {
  BITMAPINFO info;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  return info;
}

// A memory context with a new w x h bitmap selected, released at scope end.
struct Canvas {
  UniqueDC dc;
  UniqueBitmap bitmap;
  Canvas(int w, int h) : dc(CreateCompatibleDC(nullptr)) {
    const BITMAPINFO info = Info(w, h);
    bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
    EXPECT_NE(bitmap, nullptr);
    SelectObject(dc.get(), bitmap.get());
  }
  HDC operator*() const { return dc.get(); }
};

COLORREF Colour(int x, int y, int salt = 0) {
  return RGB(BYTE(x * 40 + y + salt), BYTE(y * 50 + x * 3 + 7 + salt), BYTE(x * y + 130 + salt));
}

void Paint(const Canvas& c, int w, int h, int salt = 0) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixelV(*c, x, y, Colour(x, y, salt));
}

// ------------------------------------------------------------ creation

TEST(Gdi, RowStride) {
  const std::size_t want[] = {0, 4, 8, 12, 12, 16, 20, 24, 24};
  for (int w = 0; w <= 8; ++w) EXPECT_EQ(DibStride(w), want[w]) << "width " << w;
  EXPECT_EQ(DibStride(800), 2400u);
  EXPECT_EQ(DibStride(-1), 0u);
  // Widths whose stride no longer fits a 32-bit signed count are refused.
  EXPECT_EQ(DibStride(std::numeric_limits<std::int32_t>::max()), 0u);
  for (std::int64_t w : {std::int64_t(1), std::int64_t(1000), std::int64_t(715827881)}) {
    const std::size_t s = DibStride(w);
    ASSERT_NE(s, 0u) << w;
    EXPECT_EQ(s % 4, 0u);
    EXPECT_GE(s, std::size_t(w) * 3);
    EXPECT_LT(s, std::size_t(w) * 3 + 4);
  }
}

TEST(Gdi, NewBitmapIsBlackEverywhereIncludingPadding) {
  for (int w = 1; w <= 6; ++w) {
    Canvas c(w, 3);
    ASSERT_NE(c.bitmap, nullptr);
    EXPECT_EQ(c.bitmap->Width(), w);
    EXPECT_EQ(c.bitmap->Height(), 3);
    EXPECT_EQ(c.bitmap->Stride(), DibStride(w));
    for (std::size_t i = 0; i < c.bitmap->Stride() * 3; ++i)
      ASSERT_EQ(c.bitmap->Bits()[i], 0) << "byte " << i << " of a " << w << " x 3 bitmap";
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x) EXPECT_EQ(GetPixel(*c, x, y), RGB(0, 0, 0));
  }
}

TEST(Gdi, CreateDIBSectionRefusesWhatItCannotHold) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  const auto make = [&](BITMAPINFO info, UINT usage = DIB_RGB_COLORS, void** bits = nullptr) {
    UniqueBitmap b(CreateDIBSection(dc.get(), &info, usage, bits, nullptr, 0));
    return b != nullptr;
  };
  EXPECT_TRUE(make(Info(2, 2)));
  EXPECT_FALSE(make(Info(0, 2)));
  EXPECT_FALSE(make(Info(2, 0)));
  EXPECT_FALSE(make(Info(-2, 2)));
  EXPECT_FALSE(make(Info(2, -2)));
  BITMAPINFO eight = Info(2, 2);
  eight.bmiHeader.biBitCount = 8;
  EXPECT_FALSE(make(eight));
  BITMAPINFO rle = Info(2, 2);
  rle.bmiHeader.biCompression = 1;
  EXPECT_FALSE(make(rle));
  EXPECT_FALSE(make(Info(2, 2), 1));
  void* bits = nullptr;
  EXPECT_FALSE(make(Info(2, 2), DIB_RGB_COLORS, &bits));
  EXPECT_EQ(CreateDIBSection(dc.get(), nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
  // Rows too long for the layout come back null without an allocation.
  EXPECT_FALSE(make(Info(0x7FFFFFFF, 0x7FFFFFFF)));
  EXPECT_FALSE(make(Info(715827882, 1)));
}

TEST(Gdi, SelectObjectReturnsThePreviousBitmap) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  const BITMAPINFO info = Info(1, 1);
  UniqueBitmap a(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
  UniqueBitmap b(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
  EXPECT_EQ(SelectObject(dc.get(), a.get()), nullptr);
  EXPECT_EQ(SelectObject(dc.get(), b.get()), a.get());
  EXPECT_EQ(dc->selected, b.get());
  EXPECT_EQ(SelectObject(nullptr, a.get()), nullptr);
  EXPECT_EQ(DeleteObject(nullptr), FALSE);
  EXPECT_EQ(DeleteDC(nullptr), FALSE);
}

// ------------------------------------------------------------ pixels

TEST(Gdi, ColourPacking) {
  EXPECT_EQ(RGB(0x12, 0x34, 0x56), 0x00563412u);
  EXPECT_EQ(GetRValue(0xFF563412u), 0x12);
  EXPECT_EQ(GetGValue(0xFF563412u), 0x34);
  EXPECT_EQ(GetBValue(0xFF563412u), 0x56);
}

TEST(Gdi, SetPixelVStoresBlueGreenRedAndGetPixelPacksRedLow) {
  Canvas c(3, 2);
  ASSERT_EQ(SetPixelV(*c, 1, 0, RGB(0x11, 0x22, 0x33)), TRUE);
  // Row 0 from the top is the last row in memory.
  const BYTE* p = c.bitmap->Bits() + c.bitmap->Stride() * 1 + 3;
  EXPECT_EQ(p[0], 0x33);
  EXPECT_EQ(p[1], 0x22);
  EXPECT_EQ(p[2], 0x11);
  EXPECT_EQ(GetPixel(*c, 1, 0), 0x00332211u);
  // The top byte of a colour is not stored.
  SetPixelV(*c, 2, 1, 0xAB010203u);
  EXPECT_EQ(GetPixel(*c, 2, 1), 0x00010203u);
  // Nothing else changed.
  int changed = 0;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      if (!((x == 1 && y == 0) || (x == 2 && y == 1))) changed += GetPixel(*c, x, y) != 0;
  EXPECT_EQ(changed, 0);
  // Every colour value survives a store and a fetch.
  for (int v = 0; v < 256; ++v) {
    const COLORREF colour = RGB(BYTE(v), BYTE(255 - v), BYTE(v * 7));
    SetPixelV(*c, 0, 1, colour);
    ASSERT_EQ(GetPixel(*c, 0, 1), colour);
  }
}

TEST(Gdi, OutsideTheBitmapGetPixelIsInvalidAndSetPixelVChangesNothing) {
  Canvas c(4, 3);
  Paint(c, 4, 3);
  const std::vector<BYTE> before(c.bitmap->Bits(), c.bitmap->Bits() + c.bitmap->Stride() * 3);
  const int outside[][2] = {{-1, 0}, {0, -1}, {4, 0}, {0, 3}, {4, 3}, {-1, -1},
                            {std::numeric_limits<int>::max(), 0},
                            {0, std::numeric_limits<int>::min()}};
  for (const auto& p : outside) {
    EXPECT_EQ(GetPixel(*c, p[0], p[1]), CLR_INVALID) << p[0] << ", " << p[1];
    EXPECT_EQ(SetPixelV(*c, p[0], p[1], RGB(1, 2, 3)), FALSE);
  }
  EXPECT_EQ(std::vector<BYTE>(c.bitmap->Bits(), c.bitmap->Bits() + c.bitmap->Stride() * 3), before);
  EXPECT_NE(GetPixel(*c, 3, 2), CLR_INVALID);  // the corners are inside
  EXPECT_NE(GetPixel(*c, 0, 0), CLR_INVALID);
  EXPECT_EQ(CLR_INVALID, 0xFFFFFFFFu);
  // No bitmap selected, or no context.
  UniqueDC bare(CreateCompatibleDC(nullptr));
  EXPECT_EQ(GetPixel(bare.get(), 0, 0), CLR_INVALID);
  EXPECT_EQ(SetPixelV(bare.get(), 0, 0, 0), FALSE);
  EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
}

// ------------------------------------------------------------ block copies

// dst after BitBlt(dst, x, y, w, h, src, sx, sy): for every destination pixel, the
// source pixel it should now hold, or its old colour.
void ExpectBlit(int dw, int dh, int sw, int sh, int x, int y, int w, int h, int sx, int sy) {
  SCOPED_TRACE("dst " + std::to_string(dw) + "x" + std::to_string(dh) + " at (" +
               std::to_string(x) + "," + std::to_string(y) + ") size " + std::to_string(w) +
               "x" + std::to_string(h) + " from (" + std::to_string(sx) + "," +
               std::to_string(sy) + ") of " + std::to_string(sw) + "x" + std::to_string(sh));
  Canvas src(sw, sh), dst(dw, dh);
  Paint(src, sw, sh, 0);
  Paint(dst, dw, dh, 100);
  ASSERT_EQ(BitBlt(*dst, x, y, w, h, *src, sx, sy, SRCCOPY), TRUE);
  int wrong = 0;
  for (int dy = 0; dy < dh; ++dy)
    for (int dx = 0; dx < dw; ++dx) {
      const int ox = dx - x + sx, oy = dy - y + sy;  // the source pixel for (dx, dy)
      const bool copied = dx >= x && dx < x + w && dy >= y && dy < y + h && ox >= 0 && ox < sw &&
                          oy >= 0 && oy < sh;
      const COLORREF want = copied ? Colour(ox, oy, 0) : Colour(dx, dy, 100);
      if (GetPixel(*dst, dx, dy) != want && ++wrong <= 3)
        ADD_FAILURE() << "(" << dx << ", " << dy << ") is " << std::hex << GetPixel(*dst, dx, dy)
                      << ", expected " << want;
    }
  EXPECT_EQ(wrong, 0);
  // The source is never changed.
  for (int sy2 = 0; sy2 < sh; ++sy2)
    for (int sx2 = 0; sx2 < sw; ++sx2) ASSERT_EQ(GetPixel(*src, sx2, sy2), Colour(sx2, sy2, 0));
}

TEST(Gdi, BitBltCopiesUnchanged) {
  ExpectBlit(5, 4, 5, 4, 0, 0, 5, 4, 0, 0);
  ExpectBlit(6, 6, 3, 2, 2, 1, 3, 2, 0, 0);
  ExpectBlit(7, 5, 7, 5, 1, 2, 3, 2, 4, 1);
}

TEST(Gdi, BitBltIsClippedToTheDestination) {
  // A pane smaller than the image shows only what fits.
  ExpectBlit(3, 2, 6, 5, 0, 0, 6, 5, 0, 0);
  ExpectBlit(4, 4, 6, 6, 2, 3, 6, 6, 0, 0);
  ExpectBlit(4, 4, 6, 6, -2, -1, 6, 6, 0, 0);
  ExpectBlit(4, 4, 6, 6, 4, 0, 6, 6, 0, 0);   // entirely to the right: nothing
  ExpectBlit(4, 4, 6, 6, -6, 0, 6, 6, 0, 0);  // entirely to the left: nothing
}

TEST(Gdi, BitBltIsClippedToTheSource) {
  ExpectBlit(8, 8, 3, 3, 0, 0, 8, 8, 0, 0);
  ExpectBlit(8, 8, 5, 5, 1, 1, 6, 6, 2, 3);
  ExpectBlit(8, 8, 5, 5, 1, 1, 6, 6, -2, -1);
  ExpectBlit(6, 6, 4, 4, 0, 0, 3, 3, 4, 4);   // source rectangle outside: nothing
  ExpectBlit(6, 6, 4, 4, 0, 0, 0, 3, 0, 0);   // empty rectangle
  ExpectBlit(6, 6, 4, 4, 0, 0, -3, 3, 0, 0);  // negative width
}

TEST(Gdi, BitBltWithinOneBitmapHandlesOverlap) {
  for (const int shift : {-2, -1, 1, 2}) {
    Canvas c(6, 6);
    Paint(c, 6, 6);
    ASSERT_EQ(BitBlt(*c, shift, shift, 6, 6, *c, 0, 0, SRCCOPY), TRUE);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const int ox = x - shift, oy = y - shift;
        const COLORREF want = ox >= 0 && ox < 6 && oy >= 0 && oy < 6 ? Colour(ox, oy) : Colour(x, y);
        ASSERT_EQ(GetPixel(*c, x, y), want) << "shift " << shift << " at " << x << ", " << y;
      }
  }
}

TEST(Gdi, BitBltRefusesOtherOperationsAndMissingBitmaps) {
  Canvas a(2, 2), b(2, 2);
  Paint(a, 2, 2);
  EXPECT_EQ(BitBlt(*b, 0, 0, 2, 2, *a, 0, 0, 0x00EE0086u), FALSE);
  EXPECT_EQ(GetPixel(*b, 1, 1), RGB(0, 0, 0));
  UniqueDC bare(CreateCompatibleDC(nullptr));
  EXPECT_EQ(BitBlt(*b, 0, 0, 2, 2, bare.get(), 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(BitBlt(bare.get(), 0, 0, 2, 2, *a, 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(BitBlt(nullptr, 0, 0, 2, 2, *a, 0, 0, SRCCOPY), FALSE);
}

// ------------------------------------------------------------ row transfer

// A w x h block laid out as a 24-bit file stores it: bottom row first, blue,
// green, red, rows padded to 4 bytes with `pad`.
std::vector<BYTE> Block(int w, int h, BYTE pad) {
  const std::size_t stride = std::size_t((w * 3 + 3) / 4 * 4);
  std::vector<BYTE> block(stride * std::size_t(h), pad);
  for (int stored = 0; stored < h; ++stored)
    for (int x = 0; x < w; ++x) {
      const COLORREF c = Colour(x, h - 1 - stored);
      BYTE* p = &block[std::size_t(stored) * stride + std::size_t(x) * 3];
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return block;
}

TEST(Gdi, SetDIBitsReadsBottomUpBlueGreenRedPaddedRows) {
  for (int w = 1; w <= 8; ++w)
    for (int h : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      Canvas c(w, h);
      const BITMAPINFO info = Info(w, h);
      const std::vector<BYTE> block = Block(w, h, 0xEE);
      ASSERT_EQ(SetDIBits(*c, c.bitmap.get(), 0, UINT(h), block.data(), &info, DIB_RGB_COLORS), h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(GetPixel(*c, x, y), Colour(x, y)) << x << ", " << y;
    }
}

TEST(Gdi, GetDIBitsWritesBottomUpBlueGreenRedRowsWithZeroPadding) {
  for (int w = 1; w <= 8; ++w)
    for (int h : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      Canvas c(w, h);
      Paint(c, w, h);
      BITMAPINFO info = Info(w, h);
      std::vector<BYTE> out(DibStride(w) * std::size_t(h) + 8, 0x77);  // 8 guard bytes
      ASSERT_EQ(GetDIBits(*c, c.bitmap.get(), 0, UINT(h), out.data(), &info, DIB_RGB_COLORS), h);
      std::vector<BYTE> want = Block(w, h, 0);
      want.insert(want.end(), 8, 0x77);
      EXPECT_EQ(out, want);
    }
}

TEST(Gdi, SetAndGetDIBitsRoundTrip) {
  Canvas c(5, 4);
  BITMAPINFO info = Info(5, 4);
  const std::vector<BYTE> block = Block(5, 4, 0);
  ASSERT_EQ(SetDIBits(*c, c.bitmap.get(), 0, 4, block.data(), &info, DIB_RGB_COLORS), 4);
  std::vector<BYTE> back(block.size(), 0xFF);
  ASSERT_EQ(GetDIBits(*c, c.bitmap.get(), 0, 4, back.data(), &info, DIB_RGB_COLORS), 4);
  EXPECT_EQ(back, block);
}

TEST(Gdi, DIBitsOnPartOfTheScanLines) {
  // Scan line 0 is the bottom row; lines beyond the bitmap are not touched.
  Canvas c(3, 4);
  BITMAPINFO info = Info(3, 4);
  const std::vector<BYTE> row = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
  ASSERT_EQ(SetDIBits(*c, c.bitmap.get(), 1, 1, row.data(), &info, DIB_RGB_COLORS), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) {
      const COLORREF want = y == 2 ? RGB(BYTE(x * 3 + 3), BYTE(x * 3 + 2), BYTE(x * 3 + 1)) : 0;
      EXPECT_EQ(GetPixel(*c, x, y), want) << x << ", " << y;
    }
  std::vector<BYTE> out(12 * 4, 0x55);
  EXPECT_EQ(GetDIBits(*c, c.bitmap.get(), 1, 10, out.data(), &info, DIB_RGB_COLORS), 3);
  EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + 12), row);
  EXPECT_EQ(out[36], 0x55);  // a fourth line was not written
  EXPECT_EQ(GetDIBits(*c, c.bitmap.get(), 4, 1, out.data(), &info, DIB_RGB_COLORS), 0);
}

TEST(Gdi, DIBitsRefuseBadArguments) {
  Canvas c(2, 2);
  std::vector<BYTE> buffer(16, 0);
  BITMAPINFO info = Info(2, 2);
  EXPECT_EQ(GetDIBits(*c, nullptr, 0, 2, buffer.data(), &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(*c, c.bitmap.get(), 0, 2, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(*c, c.bitmap.get(), 0, 2, buffer.data(), nullptr, DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBits(*c, c.bitmap.get(), 0, 2, buffer.data(), nullptr, DIB_RGB_COLORS), 0);
  BITMAPINFO eight = info;
  eight.bmiHeader.biBitCount = 8;
  EXPECT_EQ(SetDIBits(*c, c.bitmap.get(), 0, 2, buffer.data(), &eight, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(*c, c.bitmap.get(), 0, 2, buffer.data(), &eight, DIB_RGB_COLORS), 0);
}

}  // namespace
