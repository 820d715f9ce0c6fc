#include "engine/texture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "engine/biharmonic.h"
#include "engine/membrane.h"
#include "engine/metrics.h"
#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;
using planetest::Noise;

RgbPlane Damage(const RgbPlane& picture, const MaskPlane& mask, std::uint32_t seed) {
  std::mt19937 gen(seed);
  RgbPlane d = picture;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (mask.At(x, y))
        for (int c = 0; c < 3; ++c) d.At(x, y)[c] = double(gen() % 256);
  return d;
}

void ExpectSame(const RgbPlane& a, const RgbPlane& b) {
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(a.At(x, y)[c], b.At(x, y)[c]) << x << "," << y;
}

// Woven stripes in three colours: a texture no smooth fill can carry into a scratch.
double Weave(int x, int y, int c) {
  const double pi = std::acos(-1.0);
  return 128.0 + 50.0 * std::sin(2.0 * pi * x / 6.0 + c) + 40.0 * std::cos(2.0 * pi * y / 9.0) +
         15.0 * std::sin(2.0 * pi * (x + y) / 11.0);
}

// Thin scratches through the middle and along the top edge, a dot in a corner.
MaskPlane Scratches(int width, int height) {
  return MakeMask(width, height, [&](int x, int y) {
    return std::abs(2 * x - 3 * y - 7) <= 2 || (y == height / 2 && x > 10) || (y == 0 && x < 20) ||
           (x == width - 1 && y == height - 1);
  });
}

TEST(TextureFill, ChangesOnlyMaskedPixelsWritesWholeBytesAndIgnoresTheHole) {
  const RgbPlane photo = Noise(50, 37, 1);
  const MaskPlane mask = Scratches(50, 37);
  RgbPlane a = Damage(photo, mask, 2), b = Damage(photo, mask, 3);
  const TextureReport r = TextureFill(&a, mask);
  ASSERT_TRUE(r.outcome.ok()) << r.outcome.reason;
  EXPECT_GT(r.blocks, 0);
  EXPECT_EQ(r.unboundedPixels, 0);
  TextureFill(&b, mask);
  ExpectSame(a, b);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 50; ++x)
      for (int c = 0; c < 3; ++c) {
        const double v = a.At(x, y)[c];
        if (!mask.At(x, y)) {
          ASSERT_EQ(v, photo.At(x, y)[c]);
        }
        ASSERT_EQ(v, std::round(v));
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 255.0);
      }
  // The vector kernel gives the plain kernel's bits.
  TextureOptions plain;
  plain.vectorKernel = false;
  RgbPlane c = Damage(photo, mask, 4);
  TextureFill(&c, mask, plain);
  ExpectSame(a, c);
}

TEST(TextureFill, KeepsAConstantAndCarriesATextureIntoScratches) {
  const RgbPlane flat = MakePlane(40, 30, [](int, int, int c) { return 40.0 + 90.0 * c; });
  const MaskPlane mask = Scratches(40, 30);
  RgbPlane constant = Damage(flat, mask, 5);
  TextureFill(&constant, mask);
  ExpectSame(constant, flat);

  const RgbPlane woven = MakePlane(64, 48, Weave);
  const MaskPlane scratches = Scratches(64, 48);
  RgbPlane texture = Damage(woven, scratches, 6), membrane = texture, plate = texture;
  TextureFill(&texture, scratches);
  MembraneFill(&membrane, scratches);
  BiharmonicFill(&plate, scratches);
  const double t = MaskedPsnr(woven, texture, scratches);
  EXPECT_GT(t, 38.0);
  EXPECT_GT(t, MaskedPsnr(woven, membrane, scratches) + 8.0);
  EXPECT_GT(t, MaskedPsnr(woven, plate, scratches) + 8.0);
}

TEST(TextureFill, NeitherReadsNorFillsHiddenPixels) {
  const RgbPlane woven = MakePlane(48, 40, Weave);
  const MaskPlane target = MakeMask(48, 40, [](int x, int y) { return y == 20 && x > 5; });
  const MaskPlane hidden =
      MakeMask(48, 40, [](int x, int y) { return y >= 18 && y <= 22 && x > 5; });
  RgbPlane a = Damage(woven, hidden, 7), b = Damage(woven, hidden, 8);
  ASSERT_TRUE(TextureFill(&a, target, {}, &hidden).outcome.ok());
  TextureFill(&b, target, {}, &hidden);
  const RgbPlane before = Damage(woven, hidden, 7);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x)
      for (int c = 0; c < 3; ++c) {
        if (target.At(x, y))
          ASSERT_EQ(a.At(x, y)[c], b.At(x, y)[c]) << x << "," << y;
        else
          ASSERT_EQ(a.At(x, y)[c], before.At(x, y)[c]);
      }
}

TEST(TextureFill, EdgesCornersLinesAndFullMasks) {
  // Every edge and corner, on a picture smaller than one block's area.
  const RgbPlane photo = MakePlane(13, 9, Weave);
  const MaskPlane rim =
      MakeMask(13, 9, [](int x, int y) { return x == 0 || y == 0 || x == 12 || y == 8; });
  RgbPlane work = Damage(photo, rim, 9);
  const TextureReport r = TextureFill(&work, rim);
  EXPECT_TRUE(r.outcome.ok());
  EXPECT_EQ(r.unboundedPixels, 0);
  EXPECT_GT(MaskedPsnr(photo, work, rim), 15.0);
  // A picture one pixel high, and one pixel on its own.
  RgbPlane row =
      MakePlane(30, 1, [](int x, int, int c) { return 100.0 + 10.0 * c + (x % 2) * 40; });
  const MaskPlane gaps = MakeMask(30, 1, [](int x, int) { return x % 7 == 3; });
  RgbPlane damagedRow = Damage(row, gaps, 10);
  EXPECT_TRUE(TextureFill(&damagedRow, gaps).outcome.ok());
  EXPECT_GT(MaskedPsnr(row, damagedRow, gaps), 20.0);
  // Nothing known: nothing to model, the picture as it was.
  const RgbPlane noise = Noise(20, 10, 11);
  RgbPlane full = noise;
  const TextureReport none = TextureFill(&full, MakeMask(20, 10, [](int, int) { return true; }));
  EXPECT_TRUE(none.outcome.ok());
  EXPECT_EQ(none.unboundedPixels, 200);
  EXPECT_EQ(none.blocks, 0);
  ExpectSame(full, noise);
  // Known pixels all hidden count as nothing known.
  const MaskPlane half = MakeMask(20, 10, [](int x, int) { return x < 10; });
  const MaskPlane all = MakeMask(20, 10, [](int, int) { return true; });
  EXPECT_EQ(TextureFill(&full, half, {}, &all).unboundedPixels, 100);
  ExpectSame(full, noise);
}

TEST(TextureFill, RefusesBadOptionsAndSizes) {
  const RgbPlane photo = Noise(20, 16, 12);
  const MaskPlane mask = Scratches(20, 16);
  RgbPlane work = photo;
  auto status = [&](TextureOptions o) { return TextureFill(&work, mask, o).outcome.status; };
  TextureOptions o;
  o.block = 0;
  EXPECT_EQ(status(o), FillStatus::kBadArgument);
  o = {};
  o.border = 65;
  EXPECT_EQ(status(o), FillStatus::kBadArgument);
  o = {};
  o.transform = 48;  // not a power of two
  EXPECT_EQ(status(o), FillStatus::kBadArgument);
  o = {};
  o.transform = 16;  // smaller than block + 2 border
  const TextureReport small = TextureFill(&work, mask, o);
  EXPECT_EQ(small.outcome.status, FillStatus::kBadArgument);
  EXPECT_NE(small.outcome.reason.find("(24)"), std::string::npos) << small.outcome.reason;
  for (double bad : {0.0, 1.5, std::nan("")}) {
    o = {};
    o.decay = bad;
    EXPECT_EQ(status(o), FillStatus::kBadArgument);
    o = {};
    o.compensation = bad;
    EXPECT_EQ(status(o), FillStatus::kBadArgument);
  }
  o = {};
  o.reconstructedWeight = -0.1;
  EXPECT_EQ(status(o), FillStatus::kBadArgument);
  o = {};
  o.iterations = 0;
  EXPECT_EQ(status(o), FillStatus::kBadArgument);
  EXPECT_EQ(TextureFill(nullptr, mask).outcome.status, FillStatus::kBadArgument);
  const TextureReport wrong = TextureFill(&work, MakeMask(16, 20, [](int, int) { return true; }));
  EXPECT_EQ(wrong.outcome.status, FillStatus::kSizeMismatch);
  const MaskPlane other = MakeMask(20, 15, [](int, int) { return false; });
  EXPECT_EQ(TextureFill(&work, mask, {}, &other).outcome.reason,
            "hidden pixels: the mask is 20 x 15 but the picture is 20 x 16");
  ExpectSame(work, photo);
}

}  // namespace
