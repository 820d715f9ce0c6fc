#include "engine/membrane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;
using planetest::Noise;

// Blobs, a diagonal scratch, a line along the top edge and a corner: holes of
// several components, some touching the border.
MaskPlane Scratches(int width, int height) {
  return MakeMask(width, height, [&](int x, int y) {
    const bool blob = (x - 12) * (x - 12) + (y - 9) * (y - 9) < 30;
    const bool scratch = std::abs(x - 2 * y + 5) <= 1 && x > 20;
    const bool edge = y == 0 && x > 5 && x < 18;
    const bool corner = x >= width - 4 && y >= height - 3;
    return blob || scratch || edge || corner;
  });
}

// The picture with garbage in the masked pixels.
RgbPlane Damage(const RgbPlane& picture, const MaskPlane& mask, std::uint32_t seed) {
  std::mt19937 gen(seed);
  RgbPlane d = picture;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (mask.At(x, y))
        for (int c = 0; c < 3; ++c) d.At(x, y)[c] = double(gen() % 256);
  return d;
}

// Largest over the channels of ||sum_q (u_p - u_q)|| / ||sum of the known q||, p over
// the masked pixels, q over their neighbours inside the picture: the relative
// residual of the Laplace equation, taken from the equation itself.
double LaplaceResidual(const RgbPlane& u, const MaskPlane& mask) {
  const int W = u.Width(), H = u.Height();
  double worst = 0.0;
  for (int c = 0; c < 3; ++c) {
    double residual = 0.0, known = 0.0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (!mask.At(x, y)) continue;
        double sum = 0.0, b = 0.0;
        const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
        for (int e = 0; e < 4; ++e) {
          const int qx = x + dx[e], qy = y + dy[e];
          if (qx < 0 || qy < 0 || qx >= W || qy >= H) continue;
          sum += u.At(x, y)[c] - u.At(qx, qy)[c];
          if (!mask.At(qx, qy)) b += u.At(qx, qy)[c];
        }
        residual += sum * sum;
        known += b * b;
      }
    worst = std::max(worst, std::sqrt(residual) / std::sqrt(known));
  }
  return worst;
}

void ExpectUnmaskedEqual(const RgbPlane& a, const RgbPlane& b, const MaskPlane& mask) {
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!mask.At(x, y)) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(a.At(x, y)[c], b.At(x, y)[c]) << x << "," << y;
      }
}

TEST(MembraneFill, ChangesOnlyMaskedPixelsAndWritesWholeBytes) {
  const RgbPlane photo = Noise(41, 27, 1);
  const MaskPlane mask = Scratches(41, 27);
  RgbPlane work = Damage(photo, mask, 2);
  const MembraneReport r = MembraneFill(&work, mask);
  EXPECT_EQ(r.status, MembraneStatus::kOk);
  EXPECT_TRUE(r.converged);
  EXPECT_LE(r.relativeResidual, kMembraneTolerance);
  EXPECT_GT(r.iterations, 0);
  EXPECT_EQ(r.unboundedPixels, 0);
  ExpectUnmaskedEqual(work, photo, mask);
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 41; ++x)
      for (int c = 0; c < 3; ++c) {
        const double v = work.At(x, y)[c];
        ASSERT_EQ(v, std::round(v));
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 255.0);
      }
}

TEST(MembraneFill, DependsOnTheBoundaryAloneAndStaysWithinIt) {
  const RgbPlane photo = Noise(41, 27, 3);
  const MaskPlane mask = Scratches(41, 27);
  RgbPlane a = Damage(photo, mask, 4), b = Damage(photo, mask, 5);
  MembraneFill(&a, mask);
  MembraneFill(&b, mask);
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 41; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(a.At(x, y)[c], b.At(x, y)[c]);
  // Maximum principle: no filled value beyond the range of the known ones.
  const RgbPlane dark =
      MakePlane(41, 27, [](int x, int y, int c) { return 60.0 + (x * 7 + y * 3 + c) % 50; });
  RgbPlane work = Damage(dark, mask, 6);
  MembraneFill(&work, mask);
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 41; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_GE(work.At(x, y)[c], 60.0);
        ASSERT_LE(work.At(x, y)[c], 109.0);
      }
}

TEST(MembraneFill, ReproducesHarmonicPictures) {
  // Linear in x and y: harmonic, so an interior hole comes back exactly.
  auto ramp = [](int x, int y, int c) {
    return c == 0 ? 2.0 * x + 3.0 * y + 10.0 : c == 1 ? 200.0 - x - 2.0 * y : 120.0 + x - y;
  };
  const RgbPlane photo = MakePlane(40, 30, ramp);
  const MaskPlane hole = MakeMask(40, 30, [](int x, int y) {
    return (x >= 10 && x < 30 && y >= 8 && y < 22) || (x - 33) * (x - 33) + (y - 5) * (y - 5) < 6;
  });
  RgbPlane work = Damage(photo, hole, 7);
  ASSERT_TRUE(SolveMembrane(&work, hole, 1e-12).converged);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(work.At(x, y)[c], ramp(x, y, c), 1e-7);
  RgbPlane rounded = Damage(photo, hole, 8);
  MembraneFill(&rounded, hole);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(rounded.At(x, y)[c], ramp(x, y, c));

  const RgbPlane flat =
      MakePlane(25, 20, [](int, int, int c) { return c == 2 ? 255.0 : 17.0 * c; });
  const MaskPlane blob = Scratches(25, 20);
  RgbPlane constant = Damage(flat, blob, 9);
  MembraneFill(&constant, blob);
  ExpectUnmaskedEqual(constant, flat, MakeMask(25, 20, [](int, int) { return false; }));
}

TEST(MembraneFill, NoFluxAcrossThePictureBorder) {
  // A ramp along y survives a hole on the left edge: the missing left neighbour
  // takes no part in the balance.
  auto rows = [](int, int y, int c) { return 5.0 * y + 20.0 + c; };
  const MaskPlane left = MakeMask(30, 25, [](int x, int y) { return x < 10 && y >= 5 && y < 16; });
  RgbPlane work = Damage(MakePlane(30, 25, rows), left, 10);
  MembraneFill(&work, left);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 30; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(work.At(x, y)[c], rows(x, y, c)) << x << "," << y;
  // A band over the full height at the left edge meets the picture only at x = 10:
  // with no flux through the other sides it takes that column's value.
  auto columns = [](int x, int, int c) { return 3.0 * x + 7.0 + 50.0 * c; };
  const MaskPlane band = MakeMask(30, 25, [](int x, int) { return x < 10; });
  RgbPlane banded = Damage(MakePlane(30, 25, columns), band, 11);
  SolveMembrane(&banded, band, 1e-12);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 10; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(banded.At(x, y)[c], columns(10, y, c), 1e-8);
}

TEST(SolveMembrane, ResidualOfTheEquationBelowTheTolerance) {
  const RgbPlane photo = Noise(53, 38, 12);
  const MaskPlane mask = Scratches(53, 38);
  for (double tolerance : {1e-3, kMembraneTolerance, 1e-10}) {
    RgbPlane work = Damage(photo, mask, 13);
    const MembraneReport r = SolveMembrane(&work, mask, tolerance);
    EXPECT_TRUE(r.converged) << tolerance;
    EXPECT_LE(r.relativeResidual, tolerance);
    EXPECT_LE(LaplaceResidual(work, mask), tolerance);
    EXPECT_NEAR(LaplaceResidual(work, mask), r.relativeResidual, 1e-3 * tolerance);
    ExpectUnmaskedEqual(work, photo, mask);
  }
}

TEST(SolveMembrane, MirroredAndTransposedPicturesGiveTheMirroredSolution) {
  const int W = 37, H = 23;
  const RgbPlane photo = Noise(W, H, 14);
  const MaskPlane mask = Scratches(W, H);
  RgbPlane work = photo;
  SolveMembrane(&work, mask, 1e-12);
  RgbPlane flipped =
      MakePlane(W, H, [&](int x, int y, int c) { return photo.At(W - 1 - x, y)[c]; });
  const MaskPlane flippedMask = MakeMask(W, H, [&](int x, int y) { return mask.At(W - 1 - x, y); });
  SolveMembrane(&flipped, flippedMask, 1e-12);
  RgbPlane turned = MakePlane(H, W, [&](int x, int y, int c) { return photo.At(y, x)[c]; });
  const MaskPlane turnedMask = MakeMask(H, W, [&](int x, int y) { return mask.At(y, x); });
  SolveMembrane(&turned, turnedMask, 1e-12);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_NEAR(flipped.At(W - 1 - x, y)[c], work.At(x, y)[c], 1e-7);
        ASSERT_NEAR(turned.At(y, x)[c], work.At(x, y)[c], 1e-7);
      }
}

TEST(MembraneFill, LinesOfOnePixel) {
  // One row: between two known pixels the fill is the straight line, past the
  // last known one it is that value.
  RgbPlane row = MakePlane(20, 1, [](int x, int, int c) { return x == 3 ? 10.0 + c : 100.0 + c; });
  const MaskPlane rowMask = MakeMask(20, 1, [](int x, int) { return (x > 3 && x < 13) || x > 15; });
  row.At(15, 0)[0] = 200.0;
  ASSERT_TRUE(SolveMembrane(&row, rowMask, 1e-12).converged);
  for (int x = 4; x < 13; ++x)
    EXPECT_NEAR(row.At(x, 0)[1], 11.0 + 90.0 * (x - 3) / 10.0, 1e-9) << x;
  for (int x = 16; x < 20; ++x) EXPECT_NEAR(row.At(x, 0)[0], 200.0, 1e-9) << x;
  // One column, rounded.
  RgbPlane column = MakePlane(1, 12, [](int, int y, int c) { return y == 0 ? 0.0 : 255.0 - c; });
  const MaskPlane columnMask = MakeMask(1, 12, [](int, int y) { return y >= 1 && y <= 10; });
  ASSERT_TRUE(MembraneFill(&column, columnMask).converged);
  for (int y = 1; y <= 10; ++y)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(column.At(0, y)[c], std::round((255.0 - c) * y / 11.0));
}

TEST(MembraneFill, WithoutABoundaryThePictureStaysAsItWas) {
  const RgbPlane photo = Noise(9, 7, 15);
  RgbPlane work = photo;
  const MembraneReport r = MembraneFill(&work, MakeMask(9, 7, [](int, int) { return true; }));
  EXPECT_EQ(r.status, MembraneStatus::kOk);
  EXPECT_EQ(r.unboundedPixels, 63);
  EXPECT_EQ(r.iterations, 0);
  ExpectUnmaskedEqual(work, photo, MakeMask(9, 7, [](int, int) { return false; }));
  RgbPlane single = MakePlane(1, 1, [](int, int, int c) { return 0.25 + c; });
  EXPECT_EQ(MembraneFill(&single, MakeMask(1, 1, [](int, int) { return true; })).unboundedPixels,
            1);
  EXPECT_EQ(single.At(0, 0)[2], 2.25);

  RgbPlane untouched = photo;
  const MembraneReport none =
      MembraneFill(&untouched, MakeMask(9, 7, [](int, int) { return false; }));
  EXPECT_TRUE(none.converged);
  EXPECT_EQ(none.iterations, 0);
}

TEST(MembraneFill, RefusesWhatItCannotSolveAndStopsAtTheCap) {
  const RgbPlane photo = Noise(60, 50, 16);
  const MaskPlane mask =
      MakeMask(60, 50, [](int x, int y) { return x > 5 && x < 55 && y > 4 && y < 45; });
  RgbPlane work = photo;
  EXPECT_EQ(MembraneFill(&work, MakeMask(60, 49, [](int, int) { return true; })).status,
            MembraneStatus::kSizeMismatch);
  EXPECT_EQ(MembraneFill(nullptr, mask).status, MembraneStatus::kBadArgument);
  EXPECT_EQ(MembraneFill(&work, mask, std::nan("")).status, MembraneStatus::kBadArgument);
  EXPECT_EQ(MembraneFill(&work, mask, -1.0).status, MembraneStatus::kBadArgument);
  EXPECT_EQ(MembraneFill(&work, mask, 1e-6, -1).status, MembraneStatus::kBadArgument);
  ExpectUnmaskedEqual(work, photo, MakeMask(60, 50, [](int, int) { return false; }));

  // No iteration: u = 0, so the residual is b itself.
  const MembraneReport zero = SolveMembrane(&work, mask, 1e-6, 0);
  EXPECT_FALSE(zero.converged);
  EXPECT_EQ(zero.relativeResidual, 1.0);
  EXPECT_EQ(work.At(30, 25)[1], 0.0);

  work = photo;
  const MembraneReport capped = MembraneFill(&work, mask, 1e-6, 3);
  EXPECT_EQ(capped.status, MembraneStatus::kOk);
  EXPECT_FALSE(capped.converged);
  EXPECT_EQ(capped.iterations, 3);
  EXPECT_GT(capped.relativeResidual, 1e-6);
  ExpectUnmaskedEqual(work, photo, mask);
}

}  // namespace
