#include "engine/holdout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "engine/biharmonic.h"
#include "engine/membrane.h"
#include "tests/support/plane_builders.h"

namespace {
using planetest::MakeMask;
using planetest::MakePlane;
using planetest::Noise;

// Scratches that cross each other, letters of blobs, a band on the left edge and a
// dot in a corner.
MaskPlane Varied(int W, int H) {
  return MakeMask(W, H, [&](int x, int y) {
    const bool cross = std::abs(x - 2 * y) <= 1 || std::abs(3 * x + 2 * y - 200) <= 2;
    const bool blob = (x - 60) * (x - 60) + (y - 18) * (y - 18) < 30;
    const bool band = x < 4 && y > 40 && y < 52;
    return cross || blob || band || (x == W - 1 && y == 0);
  });
}

// The distance in the larger of the two directions from (x, y) to the nearest cell
// `set` marks, 1000 for none.
int Distance(const MaskPlane& set, int x, int y) {
  int best = 1000;
  for (int yy = 0; yy < set.Height(); ++yy)
    for (int xx = 0; xx < set.Width(); ++xx)
      if (set.At(xx, yy)) best = std::min(best, std::max(std::abs(xx - x), std::abs(yy - y)));
  return best;
}

TEST(FindRegions, EightNeighboursNumberedInRowOrder) {
  // Two pixels touching at a corner are one region; the numbering follows first pixels.
  const MaskPlane mask = MakeMask(8, 5, [](int x, int y) {
    return (x == 5 && y == 0) || (x == 1 && y == 1) || (x == 2 && y == 2) || (x == 7 && y == 4) ||
           (x == 6 && y == 4);
  });
  MaskRegions r;
  ASSERT_TRUE(FindRegions(mask, &r));
  ASSERT_EQ(r.regions.size(), 3u);
  EXPECT_EQ(r.regions[0].pixels, 1);  // (5, 0)
  EXPECT_EQ(r.regions[1].pixels, 2);  // (1, 1) and (2, 2)
  EXPECT_EQ(r.regions[2].pixels, 2);
  EXPECT_EQ(r.regions[0].edgePixels, 1);
  EXPECT_EQ(r.regions[1].edgePixels, 0);
  EXPECT_EQ(r.regions[2].edgePixels, 2);
  EXPECT_EQ(r.regions[1].box.x0, 1);
  EXPECT_EQ(r.regions[1].box.y1, 3);
  EXPECT_EQ(r.label[std::size_t(2 * 8 + 2)], 1);
  EXPECT_EQ(r.label[0], -1);
  // Cells region by region, each in row order.
  const std::vector<std::int32_t> cells = {5, 9, 18, 38, 39};
  EXPECT_EQ(r.cells, cells);

  // With tiles of 16, a sparse cross over 40 x 40 is cut along the tile grid; a solid
  // block of 30 x 30 is not.
  const MaskPlane cross = MakeMask(40, 40, [](int x, int y) { return x == y || x + y == 39; });
  ASSERT_TRUE(FindRegions(cross, &r, 16));
  EXPECT_EQ(r.regions.size(), 7u);  // a piece per tile each diagonal crosses, one where they meet
  for (const MaskRegion& region : r.regions) {
    EXPECT_EQ(region.box.x0 / 16, (region.box.x1 - 1) / 16);
    EXPECT_EQ(region.box.y0 / 16, (region.box.y1 - 1) / 16);
  }
  ASSERT_TRUE(FindRegions(cross, &r));
  EXPECT_EQ(r.regions.size(), 1u);
  const MaskPlane block =
      MakeMask(40, 40, [](int x, int y) { return x >= 5 && x < 35 && y >= 5 && y < 35; });
  ASSERT_TRUE(FindRegions(block, &r, 16));
  EXPECT_EQ(r.regions.size(), 1u);
}

TEST(PlanHeldOut, CopiesKeepClearOfTheMaskTheEdgeAndEachOther) {
  const int W = 90, H = 70;
  const MaskPlane mask = Varied(W, H);
  HeldOutPlan plan;
  ASSERT_TRUE(PlanHeldOut(mask, {}, &plan).ok());
  ASSERT_EQ(plan.rounds.size(), 3u);
  const auto& regions = plan.regions.regions;
  for (const HeldOutRound& round : plan.rounds) {
    // Everything in the round's own cells: the picture seen is the crop.
    const PixelBox& crop = round.crop;
    const int cw = crop.x1 - crop.x0, ch = crop.y1 - crop.y0;
    ASSERT_EQ(round.target.Width(), cw);
    const MaskPlane seen =
        MakeMask(cw, ch, [&](int x, int y) { return mask.At(x + crop.x0, y + crop.y0) != 0; });
    std::vector<int> owner(std::size_t(cw) * ch, -1);
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const HeldOutShift& s = round.shifts[i];
      if (!s.placed) continue;
      EXPECT_FALSE(s.overlapping);
      int count = 0;
      for (int j = 0; j < regions[i].pixels; ++j) {
        const std::int32_t c = plan.regions.cells[std::size_t(regions[i].first + j)];
        const int x = c % W + s.dx - crop.x0, y = c / W + s.dy - crop.y0;
        if (x < 0 || y < 0 || x >= cw || y >= ch || !round.target.At(x, y)) continue;
        ASSERT_EQ(owner[std::size_t(y) * cw + x], -1);
        owner[std::size_t(y) * cw + x] = int(i);
        ++count;
        EXPECT_GT(Distance(seen, x, y), 2) << x << "," << y;
        // As near the edge of what the round sees as the copied pixel is to the picture's.
        auto near = [](int px, int py, int w, int h) {
          return std::min(8, std::min(std::min(px, py), std::min(w - 1 - px, h - 1 - py)));
        };
        EXPECT_EQ(near(x, y, cw, ch), near(c % W, c / W, W, H));
      }
      EXPECT_EQ(count, s.pixels);
      EXPECT_GT(count, 0);
    }
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) {
        const std::size_t c = std::size_t(y) * cw + x;
        ASSERT_EQ(round.target.At(x, y) != 0, owner[c] >= 0);  // every held-out pixel owned
        ASSERT_EQ(round.hidden.At(x, y) != 0, seen.At(x, y) || round.target.At(x, y));
        // Copies of different regions keep the margin between them.
        if (owner[c] < 0) continue;
        for (int yy = std::max(0, y - 2); yy <= std::min(ch - 1, y + 2); ++yy)
          for (int xx = std::max(0, x - 2); xx <= std::min(cw - 1, x + 2); ++xx) {
            const int o = owner[std::size_t(yy) * cw + xx];
            ASSERT_TRUE(o < 0 || o == owner[c]);
          }
      }
    EXPECT_TRUE(round.separated);
  }
  // The same mask, the same plan.
  HeldOutPlan again;
  PlanHeldOut(mask, {}, &again);
  ASSERT_EQ(again.rounds.size(), plan.rounds.size());
  for (std::size_t k = 0; k < plan.rounds.size(); ++k)
    for (std::size_t c = 0; c < plan.rounds[k].target.Size(); ++c)
      ASSERT_EQ(plan.rounds[k].target.Data()[c], again.rounds[k].target.Data()[c]);
}

TEST(PlanHeldOut, ShortestShiftsAlongTheEdgeAndOverTooLargeHoles) {
  // A line one pixel high moves 3 rows (2 clear between), a different way each round:
  // whole down and up, then diagonally without the pixel that would come within 8 of
  // the right edge.
  const MaskPlane line =
      MakeMask(40, 30, [](int x, int y) { return y == 15 && x >= 10 && x < 30; });
  HeldOutPlan plan;
  ASSERT_TRUE(PlanHeldOut(line, {}, &plan).ok());
  for (const HeldOutRound& round : plan.rounds) EXPECT_EQ(std::abs(round.shifts[0].dy), 3);
  EXPECT_EQ(plan.rounds[0].shifts[0].dy, 3);
  EXPECT_EQ(plan.rounds[1].shifts[0].dy, -3);
  EXPECT_EQ(plan.rounds[0].shifts[0].pixels, 20);
  EXPECT_EQ(plan.rounds[1].shifts[0].pixels, 20);
  EXPECT_EQ(plan.rounds[2].shifts[0].dx, 3);
  EXPECT_EQ(plan.rounds[2].shifts[0].pixels, 19);
  // A band on the left edge moves along it, whole (10 rows and 2 clear), and nowhere else:
  // up it would come near the top edge, and a part beside the mask would be filled
  // from both sides.
  const MaskPlane band = MakeMask(40, 30, [](int x, int y) { return x < 3 && y >= 5 && y < 15; });
  ASSERT_TRUE(PlanHeldOut(band, {}, &plan).ok());
  ASSERT_EQ(plan.rounds.size(), 3u);
  EXPECT_EQ(plan.rounds[0].shifts[0].dx, 0);
  EXPECT_EQ(plan.rounds[0].shifts[0].dy, 12);
  EXPECT_EQ(plan.rounds[0].shifts[0].pixels, 30);
  EXPECT_FALSE(plan.rounds[1].shifts[0].placed);
  // A band along the whole left edge, 3 to 5 deep, cannot move: an edge round cuts the
  // picture by its depth and holds out the band moved in by it (its pixels nearer the
  // top or bottom edge than the left left out).
  const MaskPlane edge = MakeMask(40, 30, [](int x, int y) { return x < 3 + (y / 7) % 3; });
  ASSERT_TRUE(PlanHeldOut(edge, {}, &plan).ok());
  ASSERT_EQ(plan.rounds.size(), 4u);
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(plan.rounds[std::size_t(k)].shifts[0].placed);
  const HeldOutRound& cut = plan.rounds[3];
  EXPECT_EQ(cut.crop.x0, 5);
  EXPECT_EQ(cut.crop.x1, 40);
  EXPECT_EQ(cut.shifts[0].dx, 5);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 35; ++x) {
      const bool left = x < 3 + (y / 7) % 3 && x <= y && x <= 29 - y;
      ASSERT_EQ(cut.target.At(x, y) != 0, left) << x << "," << y;
      ASSERT_EQ(cut.hidden.At(x, y), cut.target.At(x, y));
    }
  // A hole of most of the picture cannot move clear: its copies lie over its place.
  const MaskPlane hole =
      MakeMask(40, 30, [](int x, int y) { return x >= 8 && x < 32 && y >= 6 && y < 24; });
  ASSERT_TRUE(PlanHeldOut(hole, {}, &plan).ok());
  const HeldOutShift& s = plan.rounds[0].shifts[0];
  EXPECT_TRUE(s.placed);
  EXPECT_TRUE(s.overlapping);
  EXPECT_FALSE(plan.rounds[0].separated);
  EXPECT_GE(s.pixels, 24 * 18 / 4);
  for (std::size_t c = 0; c < hole.Size(); ++c)
    ASSERT_FALSE(plan.rounds[0].target.Data()[c] && hole.Data()[c]);
  // Every pixel masked: no copy anywhere. No pixel masked: no region.
  ASSERT_TRUE(PlanHeldOut(MakeMask(10, 8, [](int, int) { return true; }), {}, &plan).ok());
  EXPECT_FALSE(plan.rounds[0].shifts[0].placed);
  ASSERT_TRUE(PlanHeldOut(MakeMask(10, 8, [](int, int) { return false; }), {}, &plan).ok());
  EXPECT_TRUE(plan.regions.regions.empty());
  HeldOutOptions bad;
  bad.rounds = 0;
  EXPECT_EQ(PlanHeldOut(line, bad, &plan).status, FillStatus::kBadArgument);
}

TEST(ScoreHeldOut, ComparesWithTheHiddenValuesOnAnyThreadCount) {
  const int W = 90, H = 70;
  const RgbPlane photo = Noise(W, H, 1);
  const MaskPlane mask = Varied(W, H);
  HeldOutPlan plan;
  ASSERT_TRUE(PlanHeldOut(mask, {}, &plan).ok());
  // The held-out pixels show the damage copied from their region.
  RgbPlane picture;
  ASSERT_TRUE(HeldOutPicture(photo, plan, 1, &picture));
  int copied = 0;
  for (std::size_t i = 0; i < plan.regions.regions.size(); ++i) {
    const HeldOutShift& s = plan.rounds[1].shifts[i];
    const MaskRegion& r = plan.regions.regions[i];
    for (int j = 0; s.placed && j < r.pixels; ++j) {
      const std::int32_t c = plan.regions.cells[std::size_t(r.first + j)];
      const int x = c % W + s.dx, y = c / W + s.dy;
      if (x < 0 || y < 0 || x >= W || y >= H || !plan.rounds[1].target.At(x, y)) continue;
      ASSERT_EQ(picture.At(x, y)[2], photo.At(c % W, c / W)[2]);
      ++copied;
    }
  }
  EXPECT_GT(copied, 100);

  // An oracle that writes the true values scores 0; a grey fill scores its distance.
  Restorer oracle = [&](RgbPlane* work, const MaskPlane&, const MaskPlane& target) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (target.At(x, y))
          for (int c = 0; c < 3; ++c) work->At(x, y)[c] = photo.At(x, y)[c];
    return FillOutcome{};
  };
  Restorer grey = [](RgbPlane* work, const MaskPlane& hidden, const MaskPlane&) {
    for (int y = 0; y < work->Height(); ++y)
      for (int x = 0; x < work->Width(); ++x)
        if (hidden.At(x, y))
          for (int c = 0; c < 3; ++c) work->At(x, y)[c] = 100.0;
    return FillOutcome{};
  };
  Restorer membrane = LocalRestorer(1, [](RgbPlane* work, const MaskPlane& part) {
    MembraneFill(work, part);
    return FillOutcome{};
  });
  const std::vector<HeldOutCandidate> candidates = {
      {"oracle", oracle, 0}, {"grey", grey, 1}, {"membrane", membrane, 2}};
  HeldOutScores one, two;
  ASSERT_TRUE(ScoreHeldOut(photo, plan, candidates, 1, &one).ok());
  ASSERT_TRUE(ScoreHeldOut(photo, plan, candidates, 2, &two).ok());
  EXPECT_EQ(one.squares, two.squares);
  EXPECT_EQ(one.pixels, two.pixels);
  double expected = 0.0;
  std::int64_t pixels = 0;
  for (const HeldOutRound& round : plan.rounds)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (round.target.At(x, y)) {
          ++pixels;
          for (int c = 0; c < 3; ++c)
            expected += (photo.At(x, y)[c] - 100.0) * (photo.At(x, y)[c] - 100.0);
        }
  EXPECT_EQ(one.PooledMse(0), 0.0);
  EXPECT_NEAR(one.PooledMse(1), expected / (3.0 * double(pixels)), 1e-9 * expected);
  EXPECT_TRUE(std::isinf(PsnrOfMse(one.PooledMse(0))));

  // The first refusal, in a single thread's order, ends the scoring.
  Restorer refuse = [](RgbPlane*, const MaskPlane&, const MaskPlane&) {
    return FillOutcome{FillStatus::kOutOfMemory, "no room"};
  };
  HeldOutScores none;
  EXPECT_EQ(ScoreHeldOut(photo, plan, {{"grey", grey, 0}, {"refuse", refuse, 1}}, 2, &none).reason,
            "no room");
}

TEST(ChooseHeldOut, LeastErrorPerRegionWithThePooledErrorMixedIn) {
  // Three regions, two candidates; region 2 has no copies.
  HeldOutPlan plan;
  plan.regions.regions.resize(3);
  plan.regions.regions[0].pixels = 100;
  plan.regions.regions[1].pixels = 50;
  plan.regions.regions[2].pixels = 10;
  HeldOutScores s;
  s.regions = 3;
  s.candidates = 2;
  // Region 0: candidate 1 better (mse 4 against 9); region 1: candidate 0 (1 against 16),
  // but with only 2 pixels held out.
  s.squares = {3 * 9.0 * 100, 3 * 4.0 * 100, 3 * 1.0 * 2, 3 * 16.0 * 2, 0, 0};
  s.pixels = {100, 100, 2, 2, 0, 0};
  s.copies = {3, 1, 0};
  HeldOutChoice plain = ChooseHeldOut(plan, s, {0.0, 0.0});
  EXPECT_EQ(plain.regions[0].candidate, 1);
  EXPECT_EQ(plain.regions[1].candidate, 0);
  EXPECT_EQ(plain.overall, 1);  // pooled: 906 / 102 against 432 / 102
  EXPECT_EQ(plain.regions[2].candidate, 1);
  EXPECT_TRUE(std::isnan(plain.regions[2].heldOutPsnr));
  EXPECT_NEAR(plain.heldOutPsnr, PsnrOfMse((3 * 4.0 * 100 + 3 * 1.0 * 2) / (3.0 * 102)), 1e-12);
  // The estimate weighs each region's error by its size; region 2 takes the pooled one.
  const double pooled1 = (3 * 4.0 * 100 + 3 * 16.0 * 2) / (3.0 * 102);
  EXPECT_NEAR(plain.estimatedPsnr, PsnrOfMse((100 * 4.0 + 50 * 1.0 + 10 * pooled1) / 160), 1e-12);
  EXPECT_NEAR(EstimatedPsnr(plan, s, 1, {0.0, 0.0}),
              PsnrOfMse((100 * 4.0 + 50 * 16.0 + 10 * pooled1) / 160), 1e-12);
  // With a prior of 16 pixels, region 1's two pixels no longer outweigh the picture;
  // with one of 8 copies, its single copy does not either.
  EXPECT_EQ(ChooseHeldOut(plan, s, {16.0, 0.0}).regions[1].candidate, 1);
  EXPECT_EQ(ChooseHeldOut(plan, s, {0.0, 8.0}).regions[1].candidate, 1);
  EXPECT_EQ(ChooseHeldOut(plan, s, {0.0, 8.0}).regions[0].candidate, 1);
  // Its share: 2 / (2 + 2) of its own error, the rest pooled.
  EXPECT_NEAR(ChooseHeldOut(plan, s, {2.0, 0.0}).estimatedPsnr,
              PsnrOfMse((100 * (4.0 * 100 / 102 + pooled1 * 2 / 102) +
                         50 * (0.5 * 1.0 + 0.5 * (3 * 9.0 * 100 + 3 * 1.0 * 2) / (3.0 * 102)) +
                         10 * pooled1) /
                        160),
              1e-9);
  // Ties go to the earlier candidate.
  s.squares = {5, 5, 5, 5, 0, 0};
  EXPECT_EQ(ChooseHeldOut(plan, s, {0.0, 0.0}).regions[0].candidate, 0);
}

TEST(LocalRestorer, RestoresTheConnectedPartsAsTheWholeFillWould) {
  const RgbPlane photo = Noise(60, 40, 2);
  // Two hidden regions: one holds the target, the other lies 3 pixels away.
  const MaskPlane hidden = MakeMask(60, 40, [](int x, int y) {
    return (x >= 5 && x < 20 && y >= 5 && y < 20) || (x >= 23 && x < 40 && y >= 8 && y < 30);
  });
  const MaskPlane target =
      MakeMask(60, 40, [](int x, int y) { return x >= 8 && x < 12 && y >= 8 && y < 12; });
  PlateOptions o;
  o.tolerance = 1e-13;
  o.round = false;
  Restorer local = LocalRestorer(
      2, [&](RgbPlane* work, const MaskPlane& part) { return PlateFill(work, part, o).outcome; });
  RgbPlane part = photo, whole = photo;
  ASSERT_TRUE(local(&part, hidden, target).ok());
  PlateFill(&whole, hidden, o);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      for (int c = 0; c < 3; ++c) {
        if (target.At(x, y)) {
          ASSERT_NEAR(part.At(x, y)[c], whole.At(x, y)[c], 1e-6);
        }
        if (x >= 23) {
          ASSERT_EQ(part.At(x, y)[c], photo.At(x, y)[c]);  // not run there
        }
      }
  // With one known column between them the regions touch within the plate's reach.
  const MaskPlane near = MakeMask(60, 40, [](int x, int y) {
    return (x >= 5 && x < 20 && y >= 5 && y < 20) || (x >= 21 && x < 40 && y >= 8 && y < 30);
  });
  RgbPlane both = photo;
  local(&both, near, target);
  EXPECT_NE(both.At(30, 20)[0], photo.At(30, 20)[0]);
}

}  // namespace
