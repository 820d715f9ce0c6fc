// Image surfaces: creation, re-creation and filling from a decoded picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "imaging/surface.h"
#include "tests/support/bmp_builder.h"

namespace {

// The surface holds a width x height picture of black pixels.
void ExpectBlack(const ImageSurface& s, int width, int height) {
  EXPECT_EQ(s.nWidth, width);
  EXPECT_EQ(s.nHeight, height);
  EXPECT_EQ(s.bLoaded, 1);
  EXPECT_EQ(s.picture.width, width);
  EXPECT_EQ(s.picture.height, height);
  EXPECT_EQ(s.picture.rgb, std::vector<std::uint8_t>(std::size_t(width) * height * 3, 0));
}

TEST(Surface, CreatingAndReCreatingGiveABlackPictureOfThatSize) {
  const ImageSurface empty;
  EXPECT_EQ(empty.nWidth, 0);
  EXPECT_EQ(empty.nHeight, 0);
  EXPECT_EQ(empty.bLoaded, 0);
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(5, 3, &s));
  ExpectBlack(s, 5, 3);
  FillSurface(bmptest::PatternImage(5, 3), &s);
  ASSERT_TRUE(CreateSurface(4, 2, &s));
  ExpectBlack(s, 4, 2);
}

TEST(Surface, FailedCreationLeavesTheRecordAsItWas) {
  ImageSurface s;
  ASSERT_TRUE(CreateSurface(3, 2, &s));
  const RgbImage pattern = bmptest::PatternImage(3, 2);
  FillSurface(pattern, &s);
  for (const auto& size : {std::pair<int, int>{0, 2}, {2, 0}, {-1, 5}, {5, -1},
                           {0x7FFFFFFF, 0x7FFFFFFF}, {715827882, 1}}) {
    EXPECT_FALSE(CreateSurface(size.first, size.second, &s)) << size.first << " x " << size.second;
    EXPECT_EQ(s.nWidth, 3);
    EXPECT_EQ(s.nHeight, 2);
    EXPECT_EQ(s.picture.rgb, pattern.rgb);
  }
  // On an empty record a failure leaves it empty and not loaded.
  ImageSurface empty;
  EXPECT_FALSE(CreateSurface(0, 0, &empty));
  EXPECT_EQ(empty.bLoaded, 0);
  EXPECT_TRUE(empty.picture.rgb.empty());
}

TEST(Surface, FillCopiesThePictureTopLeftClippedToTheSurface) {
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
      EXPECT_EQ(big.picture.Pixel(x, y), x < 3 && y < 2 ? bmptest::PatternColour(x, y) : 0u)
          << x << ", " << y;
  EXPECT_EQ(small.picture.Pixel(0, 0), bmptest::PatternColour(0, 0));
  EXPECT_EQ(small.picture.Pixel(1, 0), bmptest::PatternColour(1, 0));
}

}  // namespace
