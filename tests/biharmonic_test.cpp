#include "engine/biharmonic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "engine/membrane.h"
#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;
using planetest::Noise;

// Blobs, a diagonal scratch, a line along the top edge, the bottom-right corner and a
// single pixel in the top-left corner: holes of several components, some on the edge.
MaskPlane Scratches(int width, int height) {
  return MakeMask(width, height, [&](int x, int y) {
    const bool blob = (x - 12) * (x - 12) + (y - 9) * (y - 9) < 30;
    const bool scratch = std::abs(x - 2 * y + 5) <= 1 && x > 20;
    const bool edge = y == 0 && x > 5 && x < 18;
    const bool corner = x >= width - 4 && y >= height - 3;
    return blob || scratch || edge || corner || (x == 0 && y == 0);
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

PlateOptions Exact(double tension) {
  PlateOptions o;
  o.tension = tension;
  o.tolerance = 1e-12;
  o.maxIterations = 2000;
  o.round = false;
  return o;
}

// The gradient of the energy with respect to the masked values, taken term by term
// from the energy's definition (no stencil tables): for every term t containing a
// masked pixel, w_t d_t(p) (d_t . u) is added at each masked p of it. Returns the
// largest over the channels of ||gradient at u|| / ||gradient at u with the masked
// values set to 0||, the relative residual of the equations the fill solves.
double EnergyResidual(const RgbPlane& u, const MaskPlane& mask, double lambda) {
  const int W = u.Width(), H = u.Height();
  double worst = 0.0;
  for (int c = 0; c < 3; ++c) {
    std::vector<double> grad(std::size_t(W) * H, 0.0), grad0(std::size_t(W) * H, 0.0);
    auto term = [&](int count, const int* xs, const int* ys, const double* k, double w) {
      double dot = 0.0, dot0 = 0.0;
      bool any = false;
      for (int i = 0; i < count; ++i) {
        const double v = u.At(xs[i], ys[i])[c];
        dot += k[i] * v;
        if (mask.At(xs[i], ys[i]))
          any = true;
        else
          dot0 += k[i] * v;
      }
      if (!any) return;
      for (int i = 0; i < count; ++i) {
        if (!mask.At(xs[i], ys[i])) continue;
        grad[std::size_t(ys[i]) * W + xs[i]] += w * k[i] * dot;
        grad0[std::size_t(ys[i]) * W + xs[i]] += w * k[i] * dot0;
      }
    };
    const double second[3] = {1, -2, 1}, mixed[4] = {1, -1, -1, 1}, edge[2] = {1, -1};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (x >= 1 && x <= W - 2) {
          const int xs[3] = {x - 1, x, x + 1}, ys[3] = {y, y, y};
          term(3, xs, ys, second, 1.0);
        }
        if (y >= 1 && y <= H - 2) {
          const int xs[3] = {x, x, x}, ys[3] = {y - 1, y, y + 1};
          term(3, xs, ys, second, 1.0);
        }
        if (x <= W - 2 && y <= H - 2) {
          const int xs[4] = {x, x + 1, x, x + 1}, ys[4] = {y, y, y + 1, y + 1};
          term(4, xs, ys, mixed, 2.0);
        }
        if (x <= W - 2) {
          const int xs[2] = {x, x + 1}, ys[2] = {y, y};
          term(2, xs, ys, edge, lambda);
        }
        if (y <= H - 2) {
          const int xs[2] = {x, x}, ys[2] = {y, y + 1};
          term(2, xs, ys, edge, lambda);
        }
      }
    double g = 0.0, g0 = 0.0;
    for (std::size_t i = 0; i < grad.size(); ++i) {
      g += grad[i] * grad[i];
      g0 += grad0[i] * grad0[i];
    }
    if (g0 > 0.0) worst = std::max(worst, std::sqrt(g / g0));
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

void ExpectSame(const RgbPlane& a, const RgbPlane& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(a.At(x, y)[c], b.At(x, y)[c]) << x << "," << y;
}

TEST(PlateFill, ChangesOnlyMaskedPixelsWritesWholeBytesAndIgnoresTheHole) {
  const RgbPlane photo = Noise(41, 27, 1);
  const MaskPlane mask = Scratches(41, 27);
  for (double tension : {0.0, 0.5}) {
    RgbPlane a = Damage(photo, mask, 2), b = Damage(photo, mask, 3);
    PlateOptions o;
    o.tension = tension;
    const PlateReport r = PlateFill(&a, mask, o);
    ASSERT_TRUE(r.outcome.ok()) << r.outcome.reason;
    EXPECT_TRUE(r.converged);
    EXPECT_LE(r.relativeResidual, kPlateTolerance);
    EXPECT_FALSE(r.membraneFallback);
    PlateFill(&b, mask, o);
    ExpectUnmaskedEqual(a, photo, mask);
    ExpectSame(a, b);
    for (int y = 0; y < 27; ++y)
      for (int x = 0; x < 41; ++x)
        for (int c = 0; c < 3; ++c) {
          const double v = a.At(x, y)[c];
          ASSERT_EQ(v, std::round(v));
          ASSERT_GE(v, 0.0);
          ASSERT_LE(v, 255.0);
        }
  }
}

TEST(PlateFill, SolvesTheEnergyEquationsToTheTolerance) {
  // The residual is taken from the energy's terms, so this checks the operator built
  // for every border class as well as the solver. 70 x 60 with a 30 x 26 hole has
  // coarse grids; the scratches reach every edge.
  const RgbPlane photo = Noise(70, 60, 4);
  const MaskPlane mask = MakeMask(70, 60, [](int x, int y) {
    return (x >= 20 && x < 50 && y >= 15 && y < 41) || std::abs(x - y) <= 1 || x == 69 || y == 59 ||
           (x < 3 && y < 4);
  });
  for (double tension : {0.0, 0.05, 3.0}) {
    for (double tolerance : {1e-4, 1e-9}) {
      RgbPlane work = Damage(photo, mask, 5);
      PlateOptions o = Exact(tension);
      o.tolerance = tolerance;
      const PlateReport r = PlateFill(&work, mask, o);
      ASSERT_TRUE(r.converged) << tension << " " << tolerance;
      EXPECT_GT(r.levels, 1);
      EXPECT_LE(r.relativeResidual, tolerance);
      const double residual = EnergyResidual(work, mask, tension);
      EXPECT_LE(residual, tolerance) << tension;
      EXPECT_NEAR(residual, r.relativeResidual, 1e-3 * tolerance + 1e-12);
      ExpectUnmaskedEqual(work, photo, mask);
    }
  }
}

TEST(PlateFill, ReproducesWhatItsEquationAllows) {
  // Linear ramps cost no plate energy: the biharmonic fill brings them back exactly,
  // through holes inside, on every edge and in every corner.
  auto ramp = [](int x, int y, int c) {
    return c == 0 ? 2.0 * x + 3.0 * y + 10.0 : c == 1 ? 200.0 - x - 2.0 * y : 120.0 + x - y;
  };
  const RgbPlane photo = MakePlane(40, 30, ramp);
  const MaskPlane everywhere = MakeMask(40, 30, [](int x, int y) {
    return (x >= 10 && x < 30 && y >= 8 && y < 22) || x < 2 || y >= 27 || (x >= 36 && y <= 3) ||
           (x == 39 && y == 29);
  });
  RgbPlane work = Damage(photo, everywhere, 7);
  ASSERT_TRUE(PlateFill(&work, everywhere, Exact(0.0)).converged);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(work.At(x, y)[c], ramp(x, y, c), 1e-7) << x << "," << y;
  RgbPlane rounded = Damage(photo, everywhere, 8);
  BiharmonicFill(&rounded, everywhere);
  ExpectSame(rounded, photo);

  // Under tension a ramp still solves the equation inside the picture, but the natural
  // condition of the tension at the edge is no slope across it: exact for holes two
  // pixels clear of the edge only.
  const MaskPlane inside = MakeMask(40, 30, [](int x, int y) {
    return (x >= 10 && x < 30 && y >= 8 && y < 22) || (x >= 2 && x < 6 && y >= 2 && y < 5);
  });
  RgbPlane tense = Damage(photo, inside, 9);
  ASSERT_TRUE(PlateFill(&tense, inside, Exact(0.7)).converged);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(tense.At(x, y)[c], ramp(x, y, c), 1e-7);

  // A cubic is biharmonic and its fourth differences vanish: an inside hole gets it
  // back exactly, which no membrane does.
  auto cubic = [](int x, int y, int c) {
    const double u = (x - 20) / 10.0, v = (y - 15) / 10.0;
    return 120.0 + 10.0 * c + 9.0 * (u * u * u - 3.0 * u * v * v) + 14.0 * u * v + 5.0 * u * u;
  };
  const RgbPlane curved = MakePlane(40, 30, cubic);
  RgbPlane filled = Damage(curved, inside, 10);
  ASSERT_TRUE(PlateFill(&filled, inside, Exact(0.0)).converged);
  RgbPlane membrane = Damage(curved, inside, 10);
  SolveMembrane(&membrane, inside, 1e-12);
  double membraneError = 0.0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_NEAR(filled.At(x, y)[c], cubic(x, y, c), 1e-7) << x << "," << y;
        membraneError = std::max(membraneError, std::fabs(membrane.At(x, y)[c] - cubic(x, y, c)));
      }
  EXPECT_GT(membraneError, 1.0);

  // A constant stays constant under any tension.
  const RgbPlane flat =
      MakePlane(25, 20, [](int, int, int c) { return c == 2 ? 255.0 : 17.0 * c; });
  const MaskPlane blob = Scratches(25, 20);
  for (double tension : {0.0, 2.0}) {
    RgbPlane constant = Damage(flat, blob, 11);
    TensionFill(&constant, blob, tension);
    ExpectSame(constant, flat);
  }
}

TEST(PlateFill, TensionSpansTheBiharmonicAndTheMembrane) {
  const RgbPlane photo = Noise(45, 33, 12);
  const MaskPlane mask = Scratches(45, 33);
  RgbPlane membrane = photo;
  SolveMembrane(&membrane, mask, 1e-12);
  RgbPlane plate = photo;
  PlateFill(&plate, mask, Exact(0.0));
  double previous = 1e300;
  for (double tension : {0.01, 1.0, 100.0, 1e4, 1e7}) {
    RgbPlane work = photo;
    ASSERT_TRUE(PlateFill(&work, mask, Exact(tension)).converged) << tension;
    double distance = 0.0;
    for (int y = 0; y < 33; ++y)
      for (int x = 0; x < 45; ++x)
        for (int c = 0; c < 3; ++c)
          distance = std::max(distance, std::fabs(work.At(x, y)[c] - membrane.At(x, y)[c]));
    EXPECT_LT(distance, previous) << tension;
    previous = distance;
  }
  EXPECT_LT(previous, 1e-3);
  double fromPlate = 0.0;
  for (int y = 0; y < 33; ++y)
    for (int x = 0; x < 45; ++x)
      for (int c = 0; c < 3; ++c)
        fromPlate = std::max(fromPlate, std::fabs(plate.At(x, y)[c] - membrane.At(x, y)[c]));
  EXPECT_GT(fromPlate, 1.0);
}

TEST(PlateFill, MirroredAndTransposedPicturesGiveTheMirroredSolution) {
  const int W = 37, H = 23;
  const RgbPlane photo = Noise(W, H, 14);
  const MaskPlane mask = Scratches(W, H);
  RgbPlane work = photo;
  PlateFill(&work, mask, Exact(0.3));
  RgbPlane flipped =
      MakePlane(W, H, [&](int x, int y, int c) { return photo.At(W - 1 - x, y)[c]; });
  const MaskPlane flippedMask = MakeMask(W, H, [&](int x, int y) { return mask.At(W - 1 - x, y); });
  PlateFill(&flipped, flippedMask, Exact(0.3));
  RgbPlane turned = MakePlane(H, W, [&](int x, int y, int c) { return photo.At(y, x)[c]; });
  const MaskPlane turnedMask = MakeMask(H, W, [&](int x, int y) { return mask.At(y, x); });
  PlateFill(&turned, turnedMask, Exact(0.3));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_NEAR(flipped.At(W - 1 - x, y)[c], work.At(x, y)[c], 1e-7);
        ASSERT_NEAR(turned.At(y, x)[c], work.At(x, y)[c], 1e-7);
      }
}

TEST(PlateFill, LinesOfOnePixelAndSinglePixels) {
  // A column: two known pixels fix the line, which runs on to the end and is clamped.
  RgbPlane column = MakePlane(1, 12, [](int, int y, int c) { return y == 0 ? 10.0 + c : 200.0; });
  column.At(0, 1)[0] = 40.0;
  column.At(0, 1)[1] = 41.0;
  column.At(0, 1)[2] = 12.0;
  const MaskPlane below = MakeMask(1, 12, [](int, int y) { return y >= 2; });
  const PlateReport r = BiharmonicFill(&column, below);
  ASSERT_TRUE(r.converged);
  EXPECT_FALSE(r.membraneFallback);
  for (int y = 2; y < 12; ++y) {
    EXPECT_EQ(column.At(0, y)[0], std::min(255.0, 10.0 + 30.0 * y)) << y;
    EXPECT_EQ(column.At(0, y)[2], 12.0) << y;
  }
  // A row with one known pixel: nothing fixes a slope, so the membrane's flat answer.
  RgbPlane row = MakePlane(9, 1, [](int x, int, int c) { return x == 4 ? 70.0 + c : 0.0; });
  const MaskPlane allButOne = MakeMask(9, 1, [](int x, int) { return x != 4; });
  const PlateReport flat = BiharmonicFill(&row, allButOne);
  EXPECT_TRUE(flat.membraneFallback);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(row.At(x, 0)[1], 71.0);
  // Under tension one known pixel is enough, and gives the same.
  RgbPlane tense = MakePlane(9, 1, [](int x, int, int c) { return x == 4 ? 70.0 + c : 0.0; });
  const PlateReport t = TensionFill(&tense, allButOne, 0.2);
  EXPECT_FALSE(t.membraneFallback);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(tense.At(x, 0)[2], 72.0);

  // A picture whose only known pixels form one row: any plane through it is free.
  const RgbPlane photo = Noise(12, 8, 15);
  const MaskPlane oneRow = MakeMask(12, 8, [](int, int y) { return y != 3; });
  RgbPlane a = photo, b = photo;
  EXPECT_TRUE(BiharmonicFill(&a, oneRow).membraneFallback);
  MembraneFill(&b, oneRow);
  ExpectSame(a, b);
  // One more known pixel off that row fixes the plane.
  MaskPlane twoRows = oneRow;
  twoRows.At(5, 6) = 0;
  RgbPlane c = photo;
  EXPECT_FALSE(BiharmonicFill(&c, twoRows).membraneFallback);

  // Single masked pixels in the four corners of a ramp.
  auto ramp = [](int x, int y, int ch) { return 30.0 + 4.0 * x + 5.0 * y + ch; };
  const RgbPlane sloped = MakePlane(6, 5, ramp);
  const MaskPlane corners =
      MakeMask(6, 5, [](int x, int y) { return (x == 0 || x == 5) && (y == 0 || y == 4); });
  RgbPlane cornered = Damage(sloped, corners, 16);
  BiharmonicFill(&cornered, corners);
  ExpectSame(cornered, sloped);
}

TEST(PlateFill, FullAndEmptyMasks) {
  const RgbPlane photo = Noise(9, 7, 17);
  RgbPlane work = photo;
  const PlateReport full = BiharmonicFill(&work, MakeMask(9, 7, [](int, int) { return true; }));
  EXPECT_TRUE(full.outcome.ok());
  EXPECT_EQ(full.unboundedPixels, 63);
  EXPECT_EQ(full.iterations, 0);
  ExpectSame(work, photo);
  RgbPlane single = MakePlane(1, 1, [](int, int, int c) { return 0.25 + c; });
  EXPECT_EQ(
      TensionFill(&single, MakeMask(1, 1, [](int, int) { return true; }), 1.0).unboundedPixels, 1);
  EXPECT_EQ(single.At(0, 0)[2], 2.25);
  const PlateReport none = BiharmonicFill(&work, MakeMask(9, 7, [](int, int) { return false; }));
  EXPECT_TRUE(none.converged);
  EXPECT_EQ(none.iterations, 0);
  ExpectSame(work, photo);
}

TEST(PlateFill, RefusesWhatItCannotSolveAndStopsAtTheCap) {
  const RgbPlane photo = Noise(60, 50, 18);
  const MaskPlane mask =
      MakeMask(60, 50, [](int x, int y) { return x > 5 && x < 55 && y > 4 && y < 45; });
  RgbPlane work = photo;
  const PlateReport mismatch = PlateFill(&work, MakeMask(60, 49, [](int, int) { return true; }));
  EXPECT_EQ(mismatch.outcome.status, FillStatus::kSizeMismatch);
  EXPECT_EQ(mismatch.outcome.reason, "the mask is 60 x 49 but the picture is 60 x 50");
  EXPECT_EQ(PlateFill(nullptr, mask).outcome.status, FillStatus::kBadArgument);
  for (double bad : {-1.0, std::nan(""), HUGE_VAL}) {
    PlateOptions o;
    o.tension = bad;
    const PlateReport r = PlateFill(&work, mask, o);
    EXPECT_EQ(r.outcome.status, FillStatus::kBadArgument) << bad;
    EXPECT_NE(r.outcome.reason.find("tension"), std::string::npos);
    o = PlateOptions();
    o.tolerance = bad;
    EXPECT_EQ(PlateFill(&work, mask, o).outcome.status, FillStatus::kBadArgument) << bad;
  }
  PlateOptions negative;
  negative.maxIterations = -1;
  EXPECT_EQ(PlateFill(&work, mask, negative).outcome.reason, "iteration cap -1 is negative");
  ExpectSame(work, photo);

  PlateOptions none = Exact(0.0);
  none.maxIterations = 0;
  const PlateReport zero = PlateFill(&work, mask, none);
  EXPECT_FALSE(zero.converged);
  EXPECT_EQ(zero.relativeResidual, 1.0);  // u = 0: the residual is b itself
  EXPECT_EQ(work.At(30, 25)[1], 0.0);

  work = photo;
  PlateOptions capped;
  capped.maxIterations = 2;
  const PlateReport r = PlateFill(&work, mask, capped);
  EXPECT_TRUE(r.outcome.ok());
  EXPECT_FALSE(r.converged);
  EXPECT_EQ(r.iterations, 2);
  EXPECT_GT(r.relativeResidual, kPlateTolerance);
  ExpectUnmaskedEqual(work, photo, mask);
}

TEST(CPlateFill, KeepsItsGridsAndGivesThePlainFillsBits) {
  const RgbPlane photo = Noise(64, 48, 19);
  const MaskPlane a = Scratches(64, 48);
  const MaskPlane b = MakeMask(64, 48, [](int x, int y) { return (x / 7 + y / 5) % 4 == 0; });
  CPlateFill fill;
  for (const MaskPlane* mask : {&a, &a, &b, &a}) {
    for (double tension : {0.0, 0.4, 0.0}) {
      PlateOptions o;
      o.tension = tension;
      RgbPlane kept = photo, plain = photo;
      const PlateReport rk = fill.Fill(&kept, *mask, o);
      const PlateReport rp = PlateFill(&plain, *mask, o);
      ExpectSame(kept, plain);
      EXPECT_EQ(rk.iterations, rp.iterations);
    }
  }
}

}  // namespace
