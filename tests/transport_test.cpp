#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/support/engine_fixture.h"

namespace {

class TransportTest : public ::testing::Test {
 protected:
  // A w x h picture of grey 100 in every channel, masked at the given pixels.
  void LoadFlat(int w, int h, const std::vector<std::pair<int, int>>& masked, BYTE grey = 100) {
    LoadPictures(dlg, MakeImage(w, h, [grey](int, int) { return RGB(grey, grey, grey); }),
                 MakeMask(w, h, masked));
  }
  // Channel 0 around (5, 5) of a 12 x 12 grey picture shaped so that the transport
  // value is far beyond the limiter: the isophote runs along y (the pixel to the
  // right is brighter or darker by 10) and the Laplacian changes strongly along it
  // (a bright pixel two rows below).
  void ShapeStrongTransport(BYTE right) {
    g_work[6][5][0] = right;
    g_work[5][7][0] = 255;
  }
  TestDialog dlg;
  RgbPlane& g_work = dlg.engine.g_work;
  BytePlane& g_damaged = dlg.engine.g_damaged;
  MaskPlane& g_mask = dlg.engine.g_mask;
};

std::vector<double> Pixel(const CRestoreEngine& e, int x, int y) {
  return std::vector<double>(e.g_work.At(x, y), e.g_work.At(x, y) + 3);
}

TEST_F(TransportTest, LimitedTransportMovesByAtMostTheDefaultStep) {
  LoadFlat(12, 12, {{5, 5}});
  ShapeStrongTransport(110);  // beta = 155, slope 10: +1550, limited to +255
  dlg.engine.TransportBlock(1);
  EXPECT_EQ(g_work[5][5][0], 102.54999994300306);
  EXPECT_EQ(dlg.engine.m_pUpdate[0], 102.54999994300306);
  // Channels 1 and 2 are flat there: zero-norm direction, the value stays.
  EXPECT_EQ(g_work[5][5][1], 100.0);
  EXPECT_EQ(g_work[5][5][2], 100.0);
}

TEST_F(TransportTest, LimitedTransportDownwards) {
  LoadFlat(12, 12, {{5, 5}});
  ShapeStrongTransport(90);  // beta = -155, forward difference -10: -1550
  dlg.engine.TransportBlock(1);
  EXPECT_EQ(g_work[5][5][0], 97.45000005699694);
}

TEST_F(TransportTest, TimeStepComesFromTheDeltaTEdit) {
  LoadFlat(12, 12, {{5, 5}});
  ShapeStrongTransport(110);
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  dlg.engine.TransportBlock(1);
  EXPECT_EQ(dlg.engine.m_fields.m_fDeltaT, 0.5f);
  EXPECT_EQ(g_work[5][5][0], 227.5);
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0");
  dlg.engine.TransportBlock(3);
  EXPECT_EQ(g_work[5][5][0], 227.5);
}

TEST_F(TransportTest, NegativeTimeStepMovesTheOtherWay) {
  LoadFlat(12, 12, {{5, 5}});
  ShapeStrongTransport(110);  // +1550 with a step of -0.01 moves down by 2.55
  dlg.SetItemText(IDC_EDIT_DELTA_T, "-0.01");
  dlg.engine.TransportBlock(1);
  EXPECT_EQ(g_work[5][5][0], 97.45000005699694);
}

TEST(TransportLimits, LimiterAndClampWithHalfStep) {
  const double dt = 0.5;
  auto step = [dt](double v) {
    return CRestoreEngine::Clamp255(CRestoreEngine::LimitTransport(v) * dt + 100.0);
  };
  EXPECT_EQ(step(100), 150.0);
  EXPECT_EQ(step(-100), 50.0);
  EXPECT_EQ(step(255), 227.5);
  EXPECT_EQ(step(255.5), 227.5);
  EXPECT_EQ(step(1e300), 227.5);
  EXPECT_EQ(step(-200), 0.0);
  EXPECT_EQ(step(-1e300), 0.0);
  EXPECT_EQ(CRestoreEngine::LimitTransport(-255.0), -255.0);
  EXPECT_EQ(CRestoreEngine::Clamp255(255.0), 255.0);
  EXPECT_EQ(CRestoreEngine::Clamp255(-0.0), 0.0);
  const double defaultDt = double(0.01f);
  EXPECT_EQ(CRestoreEngine::Clamp255(CRestoreEngine::LimitTransport(300) * defaultDt + 254), 255.0);
  EXPECT_EQ(CRestoreEngine::Clamp255(CRestoreEngine::LimitTransport(-300) * defaultDt + 1), 0.0);
}

TEST_F(TransportTest, DirectionWidensUntilItSeesAGradient) {
  LoadFlat(14, 14, {{10, 10}}, 50);
  for (int y = 0; y < 14; ++y) g_work[13][y][1] = 80;
  const Vec3 n = dlg.engine.IsophoteDirection(MaskPixel{10, 10, 1}, 1);
  EXPECT_EQ(n.x, 0.0);
  EXPECT_TRUE(std::signbit(n.x));  // -(1/30 x 0)
  EXPECT_EQ(n.y, 1.0);
}

TEST_F(TransportTest, DirectionOfZeroNormIsZero) {
  LoadFlat(9, 7, {{4, 3}});
  const Vec3 n = dlg.engine.IsophoteDirection(MaskPixel{4, 3, 1}, 0);
  EXPECT_EQ(n.x, 0.0);
  EXPECT_EQ(n.y, 0.0);
  EXPECT_FALSE(std::isnan(n.x) || std::isnan(n.y));
}

TEST_F(TransportTest, LastColumnUsesRadiusOneOnly) {
  LoadFlat(6, 6, {{5, 3}});
  g_work[4][3][0] = 90;  // dX = I[5][3] - I[4][3] = 10
  g_work[0][3][0] = 0;   // would be seen at radius 5, never reached
  Vec3 n = dlg.engine.IsophoteDirection(MaskPixel{5, 3, 1}, 0);
  EXPECT_EQ(n.y, 1.0);
  // Equal values on both sides at radius 1: no wider radius fits, direction zero.
  g_work[4][3][0] = 100;
  n = dlg.engine.IsophoteDirection(MaskPixel{5, 3, 1}, 0);
  EXPECT_EQ(n.x, 0.0);
  EXPECT_EQ(n.y, 0.0);
}

TEST_F(TransportTest, SlopeLimitedGradientPicksDifferencesBySignOfBeta) {
  LoadFlat(8, 8, {{3, 3}});
  g_work[2][3][0] = 90;   // backward x = +10
  g_work[4][3][0] = 120;  // forward x = +20
  const MaskPixel p{3, 3, 1};
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 0, 1.0), 20.0);   // forward positive only
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 0, 0.0), 10.0);   // beta 0: backward positive
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 0, -3.0), 10.0);
  // Four neighbours equal to the pixel: no slope whatever beta is.
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 1, 5.0), 0.0);
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 1, -5.0), 0.0);
}

TEST_F(TransportTest, ColumnZeroReadsColumnOne) {
  LoadFlat(8, 8, {{0, 4}});
  for (int y = 0; y < 8; ++y) g_work[0][y][0] = 7 * y;  // column 0 is never a neighbour
  g_work[1][3][0] = 80;
  g_work[1][5][0] = 130;
  const MaskPixel p{0, 4, 1};
  // centre read at column 1 (100); by = 100 - 80, fy = 130 - 100, horizontal 0.
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 0, 1.0), 30.0);
  EXPECT_EQ(dlg.engine.SlopeLimitedGradient(p, 0, -1.0), 20.0);
}

TEST_F(TransportTest, LaplacianCentreOutsideTheImageIsClamped) {
  LoadFlat(6, 6, {{5, 3}});
  g_work[5][2][0] = 10;
  g_work[5][3][0] = 50;
  g_work[5][4][0] = 20;
  g_work[6][3][0] = 999;  // beyond the extent: never read
  // Centre (6, 3) reads (5, 3); left and right are both (5, 3) too.
  EXPECT_EQ(dlg.engine.Laplacian(6, 3, 0), (((20.0 + -200.0) + 10.0) + 50.0) + 50.0);
  // (-1, 0) reads everything at (1, 1).
  g_work[1][1][2] = 77;
  g_work[0][0][2] = 3;
  EXPECT_EQ(dlg.engine.Laplacian(-1, 0, 2), 0.0);
  // A centre inside the image is read where it is, even column 0.
  g_work[0][3][1] = 40;
  EXPECT_EQ(dlg.engine.Laplacian(0, 3, 1), (((100.0 + -160.0) + 100.0) + 100.0) + 100.0);
}

TEST_F(TransportTest, LaterPixelsSeeEarlierUpdatesOfTheSameIteration) {
  const RgbImage photo = MakePhoto(16, 12, 3);
  LoadPictures(dlg, photo, MakeMask(16, 12, {{6, 5}, {7, 5}}));
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  dlg.engine.TransportBlock(1);
  const auto left = Pixel(dlg.engine, 6, 5), right = Pixel(dlg.engine, 7, 5);

  // Left alone first, then right alone from that state: the same.
  TestDialog seq;
  LoadPictures(seq, photo, MakeMask(16, 12, {{6, 5}}));
  seq.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  seq.engine.TransportBlock(1);
  EXPECT_EQ(Pixel(seq.engine, 6, 5), left);
  ASSERT_TRUE(seq.files.LoadMaskImage(MakeMask(16, 12, {{7, 5}})).ok);
  seq.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  seq.engine.TransportBlock(1);
  EXPECT_EQ(Pixel(seq.engine, 7, 5), right);

  // The right pixel computed from the untouched picture differs.
  TestDialog alone;
  LoadPictures(alone, photo, MakeMask(16, 12, {{7, 5}}));
  alone.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  alone.engine.TransportBlock(1);
  EXPECT_NE(Pixel(alone.engine, 7, 5), right);
}

TEST_F(TransportTest, IterationsBelowOneOnlyRefreshTheFields) {
  LoadPictures(dlg, MakePhoto(10, 10, 1), MakeScratchMask(10, 10, 1, 3));
  for (int k = 0; k < dlg.engine.m_nMaskCount * 3; ++k) dlg.engine.m_pUpdate[k] = -1;
  const std::vector<double> before(g_work.Data(), g_work.Data() + 10 * 10 * 3);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "77");
  dlg.engine.TransportBlock(0);
  dlg.engine.TransportBlock(-5);
  dlg.engine.TransportStep(4, 0, 0.5);
  EXPECT_EQ(dlg.engine.m_fields.m_nTransportIter, 77);
  EXPECT_EQ(0, std::memcmp(before.data(), g_work.Data(), before.size() * sizeof(double)));
  for (int k = 0; k < dlg.engine.m_nMaskCount * 3; ++k) EXPECT_EQ(dlg.engine.m_pUpdate[k], -1);
}

TEST_F(TransportTest, CountLimitsAndInactiveEntries) {
  LoadPictures(dlg, MakePhoto(20, 20, 5), MakeMask(20, 20, {{5, 5}, {9, 9}, {12, 12}}));
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.5");
  dlg.engine.m_pMaskList[1].active = 0;
  dlg.engine.m_pUpdate[3] = dlg.engine.m_pUpdate[4] = dlg.engine.m_pUpdate[5] = -7;
  const double third[3] = {g_work[12][12][0], g_work[12][12][1], g_work[12][12][2]};
  const double second[3] = {g_work[9][9][0], g_work[9][9][1], g_work[9][9][2]};
  dlg.engine.TransportStep(2, 2, 0.5);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(g_work[12][12][c], third[c]);  // beyond count
    EXPECT_EQ(g_work[9][9][c], second[c]);   // inactive
    EXPECT_EQ(dlg.engine.m_pUpdate[3 + c], -7);
    EXPECT_EQ(dlg.engine.m_pUpdate[c], g_work[5][5][c]);  // entry 0 pairs with update 0
  }
  dlg.engine.TransportStep(1, 3, 0.5);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(dlg.engine.m_pUpdate[6 + c], g_work[12][12][c]);
}

TEST_F(TransportTest, PixelsOutsideTheMaskNeverChange) {
  const RgbImage photo = MakePhoto(23, 17, 9);
  LoadPictures(dlg, photo, MakeScratchMask(23, 17, 4, 4));
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.3");
  dlg.engine.TransportBlock(25);
  int changed = 0;
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x)
      for (int c = 0; c < 3; ++c) {
        if (g_mask[x][y] == 0) EXPECT_EQ(g_work[x][y][c], g_damaged[x][y][c]) << x << "," << y;
        else changed += g_work[x][y][c] != g_damaged[x][y][c];
        EXPECT_GE(g_work[x][y][c], 0.0);
        EXPECT_LE(g_work[x][y][c], 255.0);
      }
  EXPECT_GT(changed, 0);
}

TEST_F(TransportTest, ConstantPictureStaysConstantEvenAtTheBorders) {
  std::vector<std::pair<int, int>> all;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      if ((x + y) % 2 == 0 || x == 0 || y == 6) all.emplace_back(x, y);
  LoadFlat(9, 7, all, 143);
  dlg.engine.TransportBlock(40);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(g_work[x][y][c], 143.0);
}

}  // namespace
