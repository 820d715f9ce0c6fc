#include "engine/metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;
using planetest::Noise;

// `base` with every value moved by up to +-amount (kept in 0..255).
RgbPlane Perturbed(const RgbPlane& base, int amount, std::uint32_t seed) {
  std::mt19937 gen(seed);
  return MakePlane(base.Width(), base.Height(), [&](int x, int y, int c) {
    const double v = base.At(x, y)[c] + double(int(gen() % (2 * amount + 1)) - amount);
    return v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
  });
}

// SSIM straight from its definition: the 2-D window built and normalised as a
// whole, the moments taken about the local means, every centre of
// [x0, x1) x [y0, y1) whose window fits, each channel's mean map, then their mean.
double DirectSsim(const RgbPlane& a, const RgbPlane& b, int x0, int y0, int x1, int y1) {
  double w[11][11], total = 0.0;
  for (int j = 0; j < 11; ++j)
    for (int i = 0; i < 11; ++i) {
      w[j][i] = std::exp(-double((i - 5) * (i - 5) + (j - 5) * (j - 5)) / (2.0 * 1.5 * 1.5));
      total += w[j][i];
    }
  for (auto& row : w)
    for (double& v : row) v /= total;
  const double C1 = 2.55 * 2.55, C2 = 7.65 * 7.65;
  double mean = 0.0;
  for (int c = 0; c < 3; ++c) {
    double sum = 0.0;
    int count = 0;
    for (int y = 5; y < a.Height() - 5; ++y)
      for (int x = 5; x < a.Width() - 5; ++x) {
        if (x < x0 || x >= x1 || y < y0 || y >= y1) continue;
        double ma = 0.0, mb = 0.0;
        for (int j = 0; j < 11; ++j)
          for (int i = 0; i < 11; ++i) {
            ma += w[j][i] * a.At(x + i - 5, y + j - 5)[c];
            mb += w[j][i] * b.At(x + i - 5, y + j - 5)[c];
          }
        double va = 0.0, vb = 0.0, cov = 0.0;
        for (int j = 0; j < 11; ++j)
          for (int i = 0; i < 11; ++i) {
            const double da = a.At(x + i - 5, y + j - 5)[c] - ma;
            const double db = b.At(x + i - 5, y + j - 5)[c] - mb;
            va += w[j][i] * da * da;
            vb += w[j][i] * db * db;
            cov += w[j][i] * da * db;
          }
        sum += ((2 * ma * mb + C1) * (2 * cov + C2)) / ((ma * ma + mb * mb + C1) * (va + vb + C2));
        ++count;
      }
    mean += sum / count;
  }
  return mean / 3.0;
}

TEST(MaskedPsnr, CountsOnlyMaskedPixelsOverThreeChannels) {
  const RgbPlane ref = Noise(4, 3, 1);
  RgbPlane img = MakePlane(4, 3, [](int, int, int) { return 0.0; });  // far off everywhere
  const MaskPlane mask =
      MakeMask(4, 3, [](int x, int y) { return (x == 1 && y == 0) || (x == 3 && y == 2); });
  const int dA[3] = {3, 0, -4}, dB[3] = {0, 5, 0};  // squares 9 + 16 + 25 = 50 over 2 x 3 values
  for (int c = 0; c < 3; ++c) {
    img.At(1, 0)[c] = ref.At(1, 0)[c] + dA[c];
    img.At(3, 2)[c] = ref.At(3, 2)[c] + dB[c];
  }
  EXPECT_NEAR(MaskedPsnr(ref, img, mask), 10.0 * std::log10(255.0 * 255.0 / (50.0 / 6.0)), 1e-12);
  EXPECT_NEAR(MaskedPsnr(ref, img, mask), 38.92262, 1e-5);
  EXPECT_EQ(MaskedPsnr(ref, img, mask), MaskedPsnr(img, ref, mask));
}

TEST(MaskedErrors, MeanAbsoluteAndEachChannelOverTheMaskedPixelsOnly) {
  const RgbPlane ref = Noise(4, 3, 1);
  RgbPlane img = MakePlane(4, 3, [](int, int, int) { return 0.0; });
  const MaskPlane mask =
      MakeMask(4, 3, [](int x, int y) { return (x == 1 && y == 0) || (x == 3 && y == 2); });
  const int dA[3] = {3, 0, -4}, dB[3] = {1, 5, 0};
  for (int c = 0; c < 3; ++c) {
    img.At(1, 0)[c] = ref.At(1, 0)[c] + dA[c];
    img.At(3, 2)[c] = ref.At(3, 2)[c] + dB[c];
  }
  const MaskedErrors e = MeasureMaskedErrors(ref, img, mask);
  EXPECT_DOUBLE_EQ(e.meanAbsolute, 13.0 / 6.0);
  EXPECT_NEAR(e.channelPsnr[0], 10.0 * std::log10(255.0 * 255.0 / 5.0), 1e-12);
  EXPECT_NEAR(e.channelPsnr[1], 10.0 * std::log10(255.0 * 255.0 / 12.5), 1e-12);
  EXPECT_NEAR(e.channelPsnr[2], 10.0 * std::log10(255.0 * 255.0 / 8.0), 1e-12);
  img.At(1, 0)[1] = ref.At(1, 0)[1];
  img.At(3, 2)[1] = ref.At(3, 2)[1];
  EXPECT_TRUE(std::isinf(MeasureMaskedErrors(ref, img, mask).channelPsnr[1]));
  const MaskedErrors none = MeasureMaskedErrors(ref, img, MakeMask(4, 3, [](int, int) { return false; }));
  EXPECT_TRUE(std::isnan(none.meanAbsolute) && std::isnan(none.channelPsnr[0]));
  EXPECT_TRUE(std::isnan(MeasureMaskedErrors(ref, Noise(4, 2, 1), mask).meanAbsolute));
}

TEST(MaskedPsnr, InfiniteWhereEqualNotANumberWhenEmptyOrMismatched) {
  const RgbPlane ref = Noise(6, 5, 2);
  RgbPlane img = ref;
  img.At(0, 0)[1] += 40.0;  // outside the mask
  const MaskPlane mask = MakeMask(6, 5, [](int x, int y) { return x >= 2 && y >= 1; });
  const double inf = MaskedPsnr(ref, img, mask);
  EXPECT_TRUE(std::isinf(inf) && inf > 0);
  EXPECT_TRUE(std::isnan(MaskedPsnr(ref, img, MakeMask(6, 5, [](int, int) { return false; }))));
  EXPECT_TRUE(std::isnan(MaskedPsnr(ref, img, MakeMask(5, 6, [](int, int) { return true; }))));
  EXPECT_TRUE(std::isnan(MaskedPsnr(ref, Noise(6, 4, 2), mask)));
  EXPECT_TRUE(std::isnan(MaskedPsnr(RgbPlane(), RgbPlane(), MaskPlane())));
}

TEST(MaskBoundingBox, HalfOpenAroundEveryMaskedCell) {
  PixelBox box{-1, -1, -1, -1};
  EXPECT_TRUE(MaskBoundingBox(MakeMask(9, 7,
                                       [](int x, int y) {
                                         return (x == 2 && y == 5) || (x == 6 && y == 1) ||
                                                (x == 4 && y == 3);
                                       }),
                              &box));
  EXPECT_EQ(box.x0, 2);
  EXPECT_EQ(box.y0, 1);
  EXPECT_EQ(box.x1, 7);
  EXPECT_EQ(box.y1, 6);
  EXPECT_TRUE(MaskBoundingBox(MakeMask(9, 7, [](int x, int y) { return x == 8 && y == 6; }), &box));
  EXPECT_EQ(box.x0, 8);
  EXPECT_EQ(box.y0, 6);
  EXPECT_EQ(box.x1, 9);
  EXPECT_EQ(box.y1, 7);
  EXPECT_FALSE(MaskBoundingBox(MakeMask(9, 7, [](int, int) { return false; }), &box));
  EXPECT_EQ(box.x0 | box.y0 | box.x1 | box.y1, 0);
  EXPECT_FALSE(MaskBoundingBox(MaskPlane(), nullptr));
}

TEST(Ssim, ExactlyOneAgainstItselfAndSymmetric) {
  const RgbPlane a = Noise(37, 29, 3);
  const RgbPlane b = Perturbed(a, 30, 4);
  EXPECT_EQ(Ssim(a, a), 1.0);
  EXPECT_EQ(SsimInBox(b, b, PixelBox{3, 4, 20, 12}), 1.0);
  EXPECT_EQ(Ssim(a, b), Ssim(b, a));
  EXPECT_EQ(SsimInBox(a, b, PixelBox{0, 0, 18, 40}), SsimInBox(b, a, PixelBox{0, 0, 18, 40}));
  EXPECT_LT(Ssim(a, b), 0.99);
  EXPECT_GT(Ssim(a, b), 0.0);
}

TEST(Ssim, AgreesWithTheDirectDefinition) {
  const RgbPlane a = Noise(23, 17, 5);
  const RgbPlane b = Perturbed(a, 60, 6);
  EXPECT_NEAR(Ssim(a, b), DirectSsim(a, b, 0, 0, 23, 17), 1e-12);
  // A smooth picture against a noisy one: large means, small variances.
  const RgbPlane smooth = MakePlane(
      31, 14, [](int x, int y, int c) { return 120.0 + 60.0 * std::sin(0.2 * x + 0.3 * y + c); });
  const RgbPlane rough = Perturbed(smooth, 8, 7);
  EXPECT_NEAR(Ssim(smooth, rough), DirectSsim(smooth, rough, 0, 0, 31, 14), 1e-12);
  // The smallest picture: one window position.
  const RgbPlane s = Noise(11, 11, 8), t = Perturbed(s, 40, 9);
  EXPECT_NEAR(Ssim(s, t), DirectSsim(s, t, 0, 0, 11, 11), 1e-12);
}

TEST(Ssim, BoxTakesTheCentresInsideItWithWindowsReachingOut) {
  const RgbPlane a = Noise(30, 26, 10);
  const RgbPlane b = Perturbed(a, 50, 11);
  const PixelBox boxes[] = {{8, 9, 14, 12}, {0, 0, 9, 30}, {20, 3, 40, 7}, {12, 12, 13, 13}};
  for (const PixelBox& box : boxes)
    EXPECT_NEAR(SsimInBox(a, b, box), DirectSsim(a, b, box.x0, box.y0, box.x1, box.y1), 1e-12)
        << box.x0 << " " << box.y0 << " " << box.x1 << " " << box.y1;
  // A difference three pixels outside a one-pixel box still reaches its window.
  RgbPlane c = a;
  c.At(15, 12)[0] = 255.0 - c.At(15, 12)[0];
  EXPECT_LT(SsimInBox(a, c, PixelBox{12, 12, 13, 13}), 1.0);
  EXPECT_EQ(SsimInBox(a, c, PixelBox{5, 5, 9, 9}), 1.0);
  EXPECT_EQ(SsimInBox(a, b, PixelBox{0, 0, 30, 26}), Ssim(a, b));
}

TEST(Ssim, ConstantPicturesFollowTheLuminanceTermPerChannel) {
  const double C1 = 2.55 * 2.55;
  auto luminance = [&](double x, double y) { return (2 * x * y + C1) / (x * x + y * y + C1); };
  const RgbPlane a = MakePlane(16, 13, [](int, int, int) { return 100.0; });
  const RgbPlane b = MakePlane(16, 13, [](int, int, int) { return 130.0; });
  EXPECT_NEAR(Ssim(a, b), luminance(100, 130), 1e-12);
  const double base[3] = {10.0, 128.0, 250.0}, offset[3] = {40.0, -3.0, -200.0};
  const RgbPlane x = MakePlane(14, 19, [&](int, int, int c) { return base[c]; });
  const RgbPlane y = MakePlane(14, 19, [&](int, int, int c) { return base[c] + offset[c]; });
  double expected = 0.0;
  for (int c = 0; c < 3; ++c) expected += luminance(base[c], base[c] + offset[c]) / 3.0;
  EXPECT_NEAR(Ssim(x, y), expected, 1e-12);
  EXPECT_NEAR(SsimInBox(x, y, PixelBox{6, 6, 8, 9}), expected, 1e-12);
}

TEST(Ssim, NotANumberWithoutAWindowPosition) {
  const RgbPlane a = Noise(20, 20, 12);
  EXPECT_TRUE(std::isnan(Ssim(Noise(10, 20, 1), Noise(10, 20, 2))));
  EXPECT_TRUE(std::isnan(Ssim(Noise(20, 10, 1), Noise(20, 10, 2))));
  EXPECT_TRUE(std::isnan(Ssim(a, Noise(20, 21, 12))));
  EXPECT_TRUE(std::isnan(Ssim(RgbPlane(), RgbPlane())));
  // Centres must lie in 5 .. 14: these boxes hold none.
  EXPECT_TRUE(std::isnan(SsimInBox(a, a, PixelBox{0, 0, 5, 20})));
  EXPECT_TRUE(std::isnan(SsimInBox(a, a, PixelBox{15, 0, 20, 20})));
  EXPECT_TRUE(std::isnan(SsimInBox(a, a, PixelBox{8, 8, 8, 12})));
  EXPECT_TRUE(std::isnan(SsimInBox(a, a, PixelBox{9, 9, 3, 3})));
  EXPECT_EQ(SsimInBox(a, a, PixelBox{14, 14, 15, 15}), 1.0);
}

TEST(MeasureQuality, EachFigureFromItsOwnPair) {
  const RgbPlane original = Noise(40, 30, 13);
  const MaskPlane mask =
      MakeMask(40, 30, [](int x, int y) { return x >= 12 && x < 20 && y >= 7 && y < 25; });
  RgbPlane damaged = original, result = original;
  for (int y = 7; y < 25; ++y)
    for (int x = 12; x < 20; ++x)
      for (int c = 0; c < 3; ++c) {
        damaged.At(x, y)[c] = 255.0;
        result.At(x, y)[c] = original.At(x, y)[c] + ((x + y + c) % 2 ? 6.0 : -6.0);
      }
  const QualityMetrics q = MeasureQuality(original, damaged, result, mask);
  ASSERT_TRUE(q.hasBox);
  EXPECT_EQ(q.box.x0, 12);
  EXPECT_EQ(q.box.y0, 7);
  EXPECT_EQ(q.box.x1, 20);
  EXPECT_EQ(q.box.y1, 25);
  EXPECT_NEAR(q.psnrHoleResult, 20.0 * std::log10(255.0 / 6.0), 1e-12);
  EXPECT_LT(q.psnrHoleDamaged, q.psnrHoleResult);
  EXPECT_EQ(q.ssimDamaged, Ssim(original, damaged));
  EXPECT_EQ(q.ssimResult, Ssim(original, result));
  EXPECT_EQ(q.ssimBoxDamaged, SsimInBox(original, damaged, q.box));
  EXPECT_EQ(q.ssimBoxResult, SsimInBox(original, result, q.box));
  // The box leaves out the untouched centres, so it judges harder than the whole.
  EXPECT_LT(q.ssimBoxDamaged, q.ssimDamaged);
  EXPECT_LT(q.ssimBoxDamaged, q.ssimBoxResult);

  const QualityMetrics none =
      MeasureQuality(original, damaged, result, MakeMask(40, 30, [](int, int) { return false; }));
  EXPECT_FALSE(none.hasBox);
  EXPECT_TRUE(std::isnan(none.psnrHoleResult) && std::isnan(none.ssimBoxResult));
  EXPECT_EQ(none.ssimResult, q.ssimResult);

  const QualityMetrics odd = MeasureQuality(original, damaged, Noise(40, 31, 1), mask);
  EXPECT_FALSE(odd.hasBox);
  EXPECT_TRUE(std::isnan(odd.psnrHoleDamaged) && std::isnan(odd.psnrHoleResult));
  EXPECT_TRUE(std::isnan(odd.ssimDamaged) && std::isnan(odd.ssimResult));
  EXPECT_TRUE(std::isnan(odd.ssimBoxDamaged) && std::isnan(odd.ssimBoxResult));
}

TEST(MeasureQuality, BytesGiveTheFiguresOfTheirDoubles) {
  // Whole values with 0 and 255 along the borders, where the windows and the mask
  // reach the picture's edges.
  const int W = 29, H = 19;
  std::mt19937 gen(20);
  const auto picture = [&](int shift) {
    BytePlane p;
    EXPECT_TRUE(p.Resize(W, H));
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) {
          const bool border = x == 0 || y == 0 || x == W - 1 || y == H - 1;
          p.At(x, y)[c] = std::uint8_t(border ? ((x + y + c + shift) % 2 ? 255 : 0) : gen() % 256);
        }
    return p;
  };
  const auto doubles = [](const BytePlane& p) {
    return MakePlane(p.Width(), p.Height(), [&p](int x, int y, int c) { return double(p.At(x, y)[c]); });
  };
  const BytePlane original = picture(0), damaged = picture(1), result = picture(2);
  const MaskPlane mask = MakeMask(W, H, [](int x, int y) { return x < 3 || y == H - 1 || (x + y) % 7 == 0; });
  const QualityMetrics b = MeasureQuality(original, damaged, result, mask);
  const QualityMetrics d = MeasureQuality(doubles(original), doubles(damaged), doubles(result), mask);
  ASSERT_TRUE(b.hasBox && d.hasBox);
  EXPECT_EQ(b.psnrHoleDamaged, d.psnrHoleDamaged);
  EXPECT_EQ(b.psnrHoleResult, d.psnrHoleResult);
  EXPECT_EQ(b.ssimDamaged, d.ssimDamaged);
  EXPECT_EQ(b.ssimResult, d.ssimResult);
  EXPECT_EQ(b.ssimBoxDamaged, d.ssimBoxDamaged);
  EXPECT_EQ(b.ssimBoxResult, d.ssimBoxResult);
  EXPECT_EQ(b.holeDamaged.meanAbsolute, d.holeDamaged.meanAbsolute);
  EXPECT_EQ(b.holeResult.meanAbsolute, d.holeResult.meanAbsolute);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(b.holeDamaged.channelPsnr[c], d.holeDamaged.channelPsnr[c]);
    EXPECT_EQ(b.holeResult.channelPsnr[c], d.holeResult.channelPsnr[c]);
  }
  // Figures of pictures that differ, none of them a special value.
  EXPECT_TRUE(std::isfinite(b.psnrHoleResult) && std::isfinite(b.ssimBoxResult));
  EXPECT_LT(b.ssimResult, 1.0);
}

}  // namespace
