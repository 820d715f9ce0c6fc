// Image surfaces: creation, re-creation and filling from a decoded picture.
#include <gtest/gtest.h>

#include <cstdint>

#include "imaging/bmp_reader.h"
#include "imaging/surface.h"
#include "tests/support/bmp_builder.h"

namespace {

// Every pixel of the surface, through its context, is `colour`.
void ExpectFilled(const ImageSurface& s, COLORREF colour) {
  int wrong = 0;
  for (int y = 0; y < s.nHeight; ++y)
    for (int x = 0; x < s.nWidth; ++x) wrong += GetPixel(s.hMemDC.get(), x, y) != colour;
  EXPECT_EQ(wrong, 0);
}

TEST(Surface, EmptyRecord) {
  const ImageSurface s;
  EXPECT_EQ(s.hMemDC, nullptr);
  EXPECT_EQ(s.hBitmap, nullptr);
  EXPECT_EQ(s.nWidth, 0);
  EXPECT_EQ(s.nHeight, 0);
  EXPECT_EQ(s.bLoaded, 0);
}

TEST(Surface, CreateFiveByThree) {
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(5, 3, &s));
  EXPECT_EQ(s.nWidth, 5);
  EXPECT_EQ(s.nHeight, 3);
  EXPECT_EQ(s.bLoaded, 1);
  ASSERT_NE(s.hMemDC, nullptr);
  ASSERT_NE(s.hBitmap, nullptr);
  EXPECT_EQ(s.hMemDC->selected, s.hBitmap.get());
  EXPECT_EQ(s.hBitmap->Width(), 5);
  EXPECT_EQ(s.hBitmap->Height(), 3);
  ExpectFilled(s, RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(s.hMemDC.get(), 5, 0), CLR_INVALID);
  EXPECT_EQ(GetPixel(s.hMemDC.get(), 0, 3), CLR_INVALID);
}

TEST(Surface, ReCreatingReplacesEverythingAndStartsBlack) {
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(6, 6, &s));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) SetPixelV(s.hMemDC.get(), x, y, RGB(200, 100, 50));
  ASSERT_TRUE(CreateSurface(4, 2, &s));
  EXPECT_EQ(s.nWidth, 4);
  EXPECT_EQ(s.nHeight, 2);
  EXPECT_EQ(s.bLoaded, 1);
  EXPECT_EQ(s.hMemDC->selected, s.hBitmap.get());
  EXPECT_EQ(s.hBitmap->Width(), 4);
  EXPECT_EQ(s.hBitmap->Height(), 2);
  ExpectFilled(s, RGB(0, 0, 0));
  // Many re-creations: the sanitizer run shows any leak of the replaced ones.
  for (int i = 1; i <= 50; ++i) ASSERT_TRUE(CreateSurface(i, 51 - i, &s));
  EXPECT_EQ(s.nWidth, 50);
  EXPECT_EQ(s.nHeight, 1);
}

TEST(Surface, FailedCreationLeavesTheRecordAsItWas) {
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(3, 2, &s));
  SetPixelV(s.hMemDC.get(), 1, 1, RGB(9, 8, 7));
  const DeviceContext* dc = s.hMemDC.get();
  const Bitmap* bitmap = s.hBitmap.get();
  for (const auto& size : {std::pair<int, int>{0, 2}, {2, 0}, {-1, 5}, {5, -1},
                           {0x7FFFFFFF, 0x7FFFFFFF}, {715827882, 1}}) {
    EXPECT_FALSE(CreateSurface(size.first, size.second, &s)) << size.first << " x " << size.second;
    EXPECT_EQ(s.hMemDC.get(), dc);
    EXPECT_EQ(s.hBitmap.get(), bitmap);
    EXPECT_EQ(s.nWidth, 3);
    EXPECT_EQ(s.nHeight, 2);
    EXPECT_EQ(GetPixel(s.hMemDC.get(), 1, 1), RGB(9, 8, 7));
  }
  // On an empty record a failure leaves it empty and not loaded.
  ImageSurface empty;
  EXPECT_FALSE(CreateSurface(0, 0, &empty));
  EXPECT_EQ(empty.bLoaded, 0);
  EXPECT_EQ(empty.hBitmap, nullptr);
}

TEST(Surface, FillCopiesThePictureTopLeft) {
  const RgbImage image = bmptest::PatternImage(4, 3);
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(4, 3, &s));
  FillSurface(image, &s);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(GetPixel(s.hMemDC.get(), x, y), bmptest::PatternColour(x, y)) << x << ", " << y;
}

TEST(Surface, FillIsClippedToTheSurface) {
  // A larger surface keeps black where the picture does not reach; a smaller one
  // takes the picture's top-left part.
  const RgbImage image = bmptest::PatternImage(3, 2);
  ImageSurface big, small;
  ASSERT_TRUE(CreateSurface(5, 4, &big));
  ASSERT_TRUE(CreateSurface(2, 1, &small));
  FillSurface(image, &big);
  FillSurface(image, &small);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(GetPixel(big.hMemDC.get(), x, y),
                x < 3 && y < 2 ? bmptest::PatternColour(x, y) : RGB(0, 0, 0))
          << x << ", " << y;
  EXPECT_EQ(GetPixel(small.hMemDC.get(), 0, 0), bmptest::PatternColour(0, 0));
  EXPECT_EQ(GetPixel(small.hMemDC.get(), 1, 0), bmptest::PatternColour(1, 0));
}

TEST(Surface, MovedRecordKeepsItsBitmap) {
  ImageSurface a;
  ASSERT_TRUE(CreateSurface(2, 2, &a));
  SetPixelV(a.hMemDC.get(), 0, 0, RGB(1, 2, 3));
  ImageSurface b = std::move(a);
  EXPECT_EQ(GetPixel(b.hMemDC.get(), 0, 0), RGB(1, 2, 3));
  EXPECT_EQ(b.hMemDC->selected, b.hBitmap.get());
}

}  // namespace
