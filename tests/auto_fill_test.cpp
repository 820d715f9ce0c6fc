#include "engine/auto_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "engine/biharmonic.h"
#include "engine/membrane.h"
#include "engine/texture.h"
#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;

// A smooth left half and a woven right half.
double TwoHalves(int x, int y, int c) {
  const double pi = std::acos(-1.0);
  if (x < 48) return 40.0 + 2.0 * x + 1.5 * y + 20.0 * c + 0.02 * (x - 20) * (y - 15);
  return 128.0 + 50.0 * std::sin(2.0 * pi * x / 6.0 + c) + 40.0 * std::cos(2.0 * pi * y / 9.0);
}

// Short scratches and a blob in each half.
MaskPlane Scratches() {
  return MakeMask(96, 48, [](int x, int y) {
    const bool left = (std::abs(x - y - 5) <= 1 && x > 8 && x < 30) ||
                      (y == 40 && x > 4 && x < 26) ||
                      ((x - 36) * (x - 36) + (y - 12) * (y - 12) < 10);
    const bool right = (std::abs(x + y - 110) <= 1 && x > 60 && x < 84) ||
                       (y == 8 && x > 58 && x < 90) ||
                       ((x - 80) * (x - 80) + (y - 36) * (y - 36) < 8);
    return left || right;
  });
}

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

AutoOptions Exact() {
  AutoOptions o;
  o.heldOutTolerance = 1e-11;
  o.prior = {0.0, 0.0};
  return o;
}

TEST(AutoFill, ChoosesWhatABruteForceCheckOfItsCandidatesChooses) {
  const RgbPlane photo = MakePlane(96, 48, TwoHalves);
  const MaskPlane mask = Scratches();
  const RgbPlane damaged = Damage(photo, mask, 1);
  RgbPlane work = damaged;
  const AutoOptions options = Exact();
  const AutoReport report = AutoFill(&work, mask, options);
  ASSERT_TRUE(report.outcome.ok()) << report.outcome.reason;
  ASSERT_EQ(report.candidates.size(), 5u);
  EXPECT_EQ(report.candidates[0], "biharmonic");
  EXPECT_EQ(report.candidates[2], "tension 0.5");

  // Brute force: every candidate fills the whole hidden mask of every round by its own
  // plain call, and each region's copies are compared with the known values.
  HeldOutPlan plan;
  ASSERT_TRUE(PlanHeldOut(mask, options.heldOut, &plan).ok());
  const int nr = int(plan.regions.regions.size()), nc = 5, W = 96;
  ASSERT_EQ(int(report.regions.size()), nr);
  std::vector<double> squares(std::size_t(nr) * nc, 0.0);
  std::vector<double> pixels(std::size_t(nr) * nc, 0.0);
  for (std::size_t k = 0; k < plan.rounds.size(); ++k) {
    const HeldOutRound& round = plan.rounds[k];
    for (int c = 0; c < nc; ++c) {
      RgbPlane trial = damaged;
      PlateOptions plate;
      plate.tolerance = 1e-11;
      if (c == 0 || c == 1 || c == 2) {
        plate.tension = c == 0 ? 0.0 : options.tensions[std::size_t(c - 1)];
        PlateFill(&trial, round.hidden, plate);
      } else if (c == 3) {
        MembraneFill(&trial, round.hidden);
      } else {
        TextureFill(&trial, round.target, {}, &round.hidden);
      }
      for (int r = 0; r < nr; ++r) {
        const HeldOutShift& s = round.shifts[std::size_t(r)];
        const MaskRegion& region = plan.regions.regions[std::size_t(r)];
        for (int j = 0; s.placed && j < region.pixels; ++j) {
          const std::int32_t cell = plan.regions.cells[std::size_t(region.first + j)];
          const int x = cell % W + s.dx, y = cell / W + s.dy;
          if (x < 0 || y < 0 || x >= W || y >= 48 || !round.target.At(x, y)) continue;
          for (int ch = 0; ch < 3; ++ch) {
            const double e = trial.At(x, y)[ch] - damaged.At(x, y)[ch];
            squares[std::size_t(r) * nc + c] += e * e;
          }
          pixels[std::size_t(r) * nc + c] += 1;
        }
      }
    }
  }
  int textured = 0, smooth = 0;
  for (int r = 0; r < nr; ++r) {
    ASSERT_GT(pixels[std::size_t(r) * nc], 0) << r;
    int best = 0;
    for (int c = 1; c < nc; ++c)
      if (squares[std::size_t(r) * nc + c] < squares[std::size_t(r) * nc + best]) best = c;
    EXPECT_EQ(report.regions[std::size_t(r)].candidate, best) << "region " << r;
    const double mse =
        squares[std::size_t(r) * nc + best] / (3.0 * pixels[std::size_t(r) * nc + best]);
    EXPECT_NEAR(report.regions[std::size_t(r)].heldOutPsnr, PsnrOfMse(mse), 1e-6);
    const bool right = plan.regions.regions[std::size_t(r)].box.x0 >= 48;
    textured += right && best == 4;
    smooth += !right && best != 4;
  }
  // The woven half goes to the texture fill, the smooth half to a smooth one.
  EXPECT_GE(textured, 2);
  EXPECT_GE(smooth, 2);

  // Each region holds its candidate's fill of it (the others hidden), and nothing else
  // changed.
  for (int c = 0; c < nc; ++c) {
    MaskPlane target = MakeMask(96, 48, [&](int x, int y) {
      const std::int32_t l = plan.regions.label[std::size_t(y) * W + x];
      return l >= 0 && report.regions[std::size_t(l)].candidate == c;
    });
    RgbPlane alone = damaged;
    if (c == 4) {
      TextureFill(&alone, target, {}, &mask);
    } else if (c == 3) {
      MembraneFill(&alone, mask);
    } else {
      PlateOptions plate;
      plate.tension = c == 0 ? 0.0 : options.tensions[std::size_t(c - 1)];
      PlateFill(&alone, mask, plate);
    }
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 96; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          if (target.At(x, y)) {
            ASSERT_NEAR(work.At(x, y)[ch], alone.At(x, y)[ch], 1.0) << c << " " << x << "," << y;
          }
          if (!mask.At(x, y)) {
            ASSERT_EQ(work.At(x, y)[ch], damaged.At(x, y)[ch]);
          }
        }
  }
}

TEST(AutoFill, TheSameBytesOnAnyThreadCountAndWhateverTheHoleHeld) {
  const RgbPlane photo = MakePlane(96, 48, TwoHalves);
  const MaskPlane mask = Scratches();
  RgbPlane one = Damage(photo, mask, 2), two = Damage(photo, mask, 3);
  AutoOptions o;
  const AutoReport a = AutoFill(&one, mask, o);
  o.threads = 2;
  const AutoReport b = AutoFill(&two, mask, o);
  ExpectSame(one, two);
  ASSERT_EQ(a.regions.size(), b.regions.size());
  for (std::size_t r = 0; r < a.regions.size(); ++r) {
    EXPECT_EQ(a.regions[r].candidate, b.regions[r].candidate);
    EXPECT_EQ(a.regions[r].heldOutPsnr, b.regions[r].heldOutPsnr);
  }
  EXPECT_EQ(a.estimatedPsnr, b.estimatedPsnr);
  EXPECT_EQ(a.candidateHeldOutPsnr, b.candidateHeldOutPsnr);
  EXPECT_TRUE(a.separated);
  EXPECT_GT(a.heldOutPixels, 0);
  // A constant stays constant.
  const RgbPlane flat = MakePlane(96, 48, [](int, int, int c) { return 30.0 + 100.0 * c; });
  RgbPlane filled = Damage(flat, mask, 4);
  const AutoReport f = AutoFill(&filled, mask);
  ExpectSame(filled, flat);
  EXPECT_TRUE(std::isinf(f.estimatedPsnr));
}

TEST(AutoFill, EstimatesAnyRestorationByTheSameCopies) {
  const RgbPlane photo = MakePlane(96, 48, TwoHalves);
  const MaskPlane mask = Scratches();
  RgbPlane work = Damage(photo, mask, 5);
  const RgbPlane damaged = work;
  const AutoReport report = AutoFill(&work, mask);
  Restorer membrane = LocalRestorer(1, [](RgbPlane* w, const MaskPlane& part) {
    MembraneFill(w, part);
    return FillOutcome{};
  });
  FillOutcome outcome;
  EXPECT_EQ(EstimateHolePsnr(damaged, mask, membrane, {}, &outcome),
            report.candidateEstimatedPsnr[3]);
  EXPECT_TRUE(outcome.ok());
  // The estimate of the chosen mix is no worse than that of its best single candidate.
  double best = -1.0;
  for (double e : report.candidateEstimatedPsnr) best = std::max(best, e);
  EXPECT_GE(report.estimatedPsnr, best - 1e-9);
  EXPECT_TRUE(std::isnan(
      EstimateHolePsnr(damaged, MakeMask(96, 48, [](int, int) { return true; }), membrane)));
}

TEST(AutoFill, EmptyAndFullMasksAndRefusals) {
  const RgbPlane photo = MakePlane(96, 48, TwoHalves);
  RgbPlane work = photo;
  const AutoReport none = AutoFill(&work, MakeMask(96, 48, [](int, int) { return false; }));
  EXPECT_TRUE(none.outcome.ok());
  EXPECT_TRUE(none.regions.empty());
  const AutoReport full = AutoFill(&work, MakeMask(96, 48, [](int, int) { return true; }));
  EXPECT_TRUE(full.outcome.ok());
  ASSERT_EQ(full.regions.size(), 1u);
  EXPECT_EQ(full.regions[0].heldOutPixels, 0);
  ExpectSame(work, photo);

  const MaskPlane mask = Scratches();
  AutoOptions o;
  o.tensions = {0.5, -1.0};
  const AutoReport bad = AutoFill(&work, mask, o);
  EXPECT_EQ(bad.outcome.status, FillStatus::kBadArgument);
  EXPECT_EQ(bad.outcome.reason, "tension -1 is not a finite number > 0");
  o = {};
  o.threads = 0;
  EXPECT_EQ(AutoFill(&work, mask, o).outcome.status, FillStatus::kBadArgument);
  o = {};
  o.membrane = o.biharmonic = o.texture = false;
  o.tensions.clear();
  EXPECT_EQ(AutoFill(&work, mask, o).outcome.reason, "no candidate to choose from");
  o = {};
  o.textureOptions.block = 0;  // refused by the candidate itself, on the first round
  EXPECT_EQ(AutoFill(&work, mask, o).outcome.status, FillStatus::kBadArgument);
  EXPECT_EQ(AutoFill(&work, MakeMask(95, 48, [](int, int) { return true; })).outcome.status,
            FillStatus::kSizeMismatch);
  EXPECT_EQ(AutoFill(nullptr, mask).outcome.status, FillStatus::kBadArgument);
  ExpectSame(work, photo);
}

}  // namespace
