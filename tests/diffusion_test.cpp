#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/engine_fixture.h"

namespace {

class DiffusionTest : public ::testing::Test {
 protected:
  void Load(const RgbImage& picture, const std::vector<std::pair<int, int>>& masked) {
    LoadPictures(dlg, picture, MakeMask(picture.width, picture.height, masked));
  }
  static RgbImage Grey(int w, int h, BYTE v) {
    return MakeImage(w, h, [v](int, int) { return RGB(v, v, v); });
  }
  TestDialog dlg;
  RgbPlane& g_work = dlg.engine.g_work;
  BytePlane& g_damaged = dlg.engine.g_damaged;
  MaskPlane& g_mask = dlg.engine.g_mask;
};

TEST_F(DiffusionTest, FlatNeighbourhoodHasTheLargestWeightAndKeepsItsValue) {
  std::vector<std::pair<int, int>> block;
  for (int y = 2; y <= 6; ++y)
    for (int x = 2; x <= 6; ++x) block.emplace_back(x, y);
  Load(Grey(9, 9, 90), block);
  dlg.engine.DiffusionStep(3, 0);
  EXPECT_EQ(dlg.engine.GridWeight()[4][4], 0.125);
  EXPECT_EQ(g_work[4][4][0], 90.0);
}

TEST_F(DiffusionTest, WeightsOfRampsAndEdges) {
  // Horizontal ramp 10 x in every row; the weight pass at x = 1 reads column 1 for 0.
  Load(MakeImage(8, 5, [](int x, int) { return RGB(BYTE(10 * x), 0, 0); }), {{1, 2}, {3, 2}});
  dlg.engine.DiffusionStep(1, 0);
  EXPECT_EQ(dlg.engine.GridWeight()[3][2], 1.0 / (std::sqrt(401.0) * 8.0));
  EXPECT_EQ(dlg.engine.GridWeight()[1][2], 1.0 / (std::sqrt(101.0) * 8.0));
  EXPECT_NEAR(dlg.engine.GridWeight()[3][2], 0.00624220, 1e-8);
  EXPECT_NEAR(dlg.engine.GridWeight()[1][2], 0.01243796, 1e-8);

  TestDialog edge;
  LoadPictures(edge, MakeImage(6, 5, [](int x, int) { return RGB(x < 2 ? 0 : 100, 0, 0); }),
               MakeMask(6, 5, {{1, 2}}));
  edge.engine.DiffusionStep(1, 0);
  EXPECT_EQ(edge.engine.GridWeight()[1][2], 1.0 / (std::sqrt(10001.0) * 8.0));
  EXPECT_NEAR(edge.engine.GridWeight()[1][2], 0.00124994, 1e-8);

  // The plane 1.5 x + 2 y gives gx = 3 and gy = 4.
  TestDialog tilt;
  LoadPictures(tilt, Grey(5, 5, 0), MakeMask(5, 5, {{2, 2}}));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) tilt.engine.g_work[x][y][1] = 1.5 * x + 2.0 * y;
  tilt.engine.DiffusionStep(1, 1);
  EXPECT_EQ(tilt.engine.GridWeight()[2][2], 1.0 / (std::sqrt(26.0) * 8.0));
}

TEST_F(DiffusionTest, IsolatedPixelOnlyLosesItsFraction) {
  Load(Grey(9, 9, 40), {{4, 4}});
  g_work[4][4][2] = 137.6;
  dlg.engine.DiffusionStep(2, 2);
  EXPECT_EQ(g_work[4][4][2], 137.0);
  EXPECT_EQ(g_work[3][4][2], 40.0);
}

TEST_F(DiffusionTest, WriteBackBoundsAndFloors) {
  const std::vector<std::pair<int, int>> masked = {{1, 1}, {2, 1}, {3, 1}, {1, 3}, {2, 3}, {3, 3}};
  Load(Grey(6, 6, 0), masked);
  const double in[6] = {255.7, 300, 254.999, 12.9, 0, -0.5};
  const double out[6] = {255, 255, 254, 12, 0, 0};
  for (int i = 0; i < 6; ++i) g_work[masked[i].first][masked[i].second][0] = in[i];
  dlg.engine.DiffusionStep(0, 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(g_work[masked[i].first][masked[i].second][0], out[i]);
}

TEST_F(DiffusionTest, CallWithoutIterationsFloorsItsOwnChannel) {
  Load(Grey(7, 7, 50), {{3, 3}, {0, 0}, {0, 4}});
  for (const auto& p : std::vector<std::pair<int, int>>{{3, 3}, {0, 0}, {0, 4}}) {
    g_work[p.first][p.second][0] = 10.7;
    g_work[p.first][p.second][1] = 20.2;
  }
  dlg.engine.DiffusionStep(2, 0);
  dlg.engine.DiffusionStep(0, 1);
  for (const auto& p : std::vector<std::pair<int, int>>{{3, 3}, {0, 0}, {0, 4}})
    EXPECT_EQ(g_work[p.first][p.second][1], 20.0);
  // Row 0 and column 0 never belong to the region: their own value, floored.
  EXPECT_EQ(g_work[0][0][0], 10.0);
  EXPECT_EQ(g_work[0][4][0], 10.0);
}

TEST_F(DiffusionTest, OnePixelWideImageOnlyWritesBack) {
  Load(Grey(1, 6, 30), {{0, 2}, {0, 3}});
  g_work[0][2][0] = 99.9;
  dlg.engine.DiffusionStep(5, 0);
  EXPECT_EQ(g_work[0][2][0], 99.0);
  EXPECT_EQ(dlg.engine.GridWeight()[0][2], 0.0);
}

TEST_F(DiffusionTest, NeighboursAtTheFirstColumnReadTheCentre) {
  // A region pixel at x = 1 whose left neighbour (column 0) differs wildly: column 0
  // is read as column 1, so the result does not depend on it.
  auto run = [](BYTE left) {
    TestDialog d;
    LoadPictures(d, MakeImage(6, 6, [left](int x, int y) {
                   return RGB(x == 0 ? left : BYTE(20 * y + 5 * x), 0, 0);
                 }),
                 MakeMask(6, 6, {{1, 2}, {1, 3}, {2, 3}}));
    d.engine.DiffusionStep(2, 0);
    const RgbPlane& g_work = d.engine.g_work;
    return std::vector<double>{g_work[1][2][0], g_work[1][3][0], g_work[2][3][0]};
  };
  EXPECT_EQ(run(0), run(255));
}

TEST_F(DiffusionTest, WeightsPersistAcrossMaskLoads) {
  const RgbImage photo = MakePhoto(12, 12, 2);
  Load(photo, {{5, 5}, {6, 5}});
  dlg.engine.DiffusionStep(1, 0);
  const double kept = dlg.engine.GridWeight()[6][5];
  ASSERT_GT(kept, 0.0);
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(12, 12, {{5, 5}})).ok);
  g_work[5][5][0] = 200;
  dlg.engine.DiffusionStep(1, 0);
  EXPECT_EQ(dlg.engine.GridWeight()[6][5], kept);
  // The old neighbour still pulls with its old weight: a fresh dialog (weights 0
  // around (5, 5)) gives a different value.
  const double withOld = g_work[5][5][0];
  TestDialog fresh;
  LoadPictures(fresh, photo, MakeMask(12, 12, {{5, 5}}));
  fresh.engine.g_work[5][5][0] = 200;
  fresh.engine.DiffusionStep(1, 0);
  EXPECT_EQ(fresh.engine.g_work[5][5][0], 200.0);
  EXPECT_NE(withOld, 200.0);
}

TEST_F(DiffusionTest, OnlyMaskedPixelsChangeAndStayWhole) {
  Load(MakePhoto(30, 20, 7), {});
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeScratchMask(30, 20, 3, 5)).ok);
  for (int k = 0; k < dlg.engine.m_nMaskCount; ++k) g_work[dlg.engine.m_pMaskList[k].x][dlg.engine.m_pMaskList[k].y][1] += 0.75;
  dlg.engine.DiffusionStep(4, 1);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const double v = g_work[x][y][1];
      if (g_mask[x][y] == 0) {
        EXPECT_EQ(v, g_damaged[x][y][1]);
      } else {
        EXPECT_EQ(v, std::floor(v));
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 255.0);
      }
      EXPECT_EQ(g_work[x][y][0], g_damaged[x][y][0]);  // other channels untouched
    }
}

}  // namespace
