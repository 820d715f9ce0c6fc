#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/engine_fixture.h"

namespace {

TEST(Clamps, MapIndexesIntoTheExtent) {
    TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(5, 2, 1)).ok);
  const int in[7] = {-3, 0, 1, 3, 4, 5, 100};
  const int out[7] = {1, 1, 1, 3, 4, 4, 4};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(dlg.engine.ClampX(in[k]), out[k]) << in[k];
  for (int j : {-1, 0, 1, 2, 9}) EXPECT_EQ(dlg.engine.ClampY(j), 1) << j;  // two rows: always 1
  ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(1, 3, 1)).ok);
  for (int i : {-1, 0, 1, 5}) EXPECT_EQ(dlg.engine.ClampX(i), 0) << i;  // one column: always 0
}

TEST(ColorToRgb, UnpacksRedGreenBlue) {
  const RgbTriple a = ColorToRgb(0x00FF8040u);
  EXPECT_EQ(a.c[0], 64.0);
  EXPECT_EQ(a.c[1], 128.0);
  EXPECT_EQ(a.c[2], 255.0);
  const RgbTriple b = ColorToRgb(0xFFFFFFFFu);
  EXPECT_EQ(b.c[0], 255.0);
  EXPECT_EQ(b.c[2], 255.0);
}

TEST(AllocGrid, ZeroFilledRowByRow) {
  DoubleGrid g = AllocGrid(4, 2);
  ASSERT_FALSE(g.Empty());
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 2; ++y) EXPECT_EQ(g[x][y], 0.0);
  EXPECT_EQ(&g[3][1], g.Data() + 7);  // row 1 starts at element 4
  EXPECT_EQ(&g[1][1], g.Data() + 5);
  EXPECT_TRUE(AllocGrid(-1, 5).Empty());
  EXPECT_TRUE(AllocGrid(0x7FFFFFFF, 0x7FFFFFFF).Empty());
}

class MaskStore : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(3, 2, 1)).ok); }
  TestDialog dlg;
  MaskPlane& g_mask = dlg.engine.g_mask;
};

TEST_F(MaskStore, ListInRowOrderWithRowFlags) {
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(3, 2, {{2, 0}, {0, 1}, {1, 1}})).ok);
  ASSERT_EQ(dlg.engine.m_nMaskCount, 3);
  const int expected[3][2] = {{2, 0}, {0, 1}, {1, 1}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(dlg.engine.m_pMaskList[k].x, expected[k][0]);
    EXPECT_EQ(dlg.engine.m_pMaskList[k].y, expected[k][1]);
    EXPECT_EQ(dlg.engine.m_pMaskList[k].active, 1);
  }
  EXPECT_EQ(dlg.engine.m_pRowFlags[0], 1);
  EXPECT_EQ(dlg.engine.m_pRowFlags[1], 1);
  EXPECT_EQ(g_mask[2][0] + g_mask[0][1] + g_mask[1][1], 3);
  EXPECT_EQ(g_mask[0][0] + g_mask[1][0] + g_mask[2][1], 0);
  EXPECT_EQ(dlg.engine.m_fields.m_nMaskPixels, 3u);
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_MASK_PIXELS), "3");
}

TEST_F(MaskStore, AnyColourButPureBlackIsMasked) {
  RgbImage mask = MakeMask(3, 2, {});
  mask.rgb[3 * 4] = 1;  // (1, 1) = (1, 0, 0)
  ASSERT_TRUE(dlg.files.LoadMaskImage(mask).ok);
  EXPECT_EQ(dlg.engine.m_nMaskCount, 1);
  EXPECT_EQ(dlg.engine.m_pRowFlags[0], 0);
  EXPECT_EQ(dlg.engine.m_pRowFlags[1], 1);
}

TEST_F(MaskStore, BlackMaskClearsAnEarlierOne) {
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(3, 2, {{0, 0}, {2, 1}})).ok);
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(3, 2, {})).ok);
  EXPECT_EQ(dlg.engine.m_nMaskCount, 0);
  EXPECT_EQ(dlg.engine.m_pRowFlags[0] + dlg.engine.m_pRowFlags[1], 0);
  EXPECT_EQ(g_mask[0][0] + g_mask[2][1], 0);
}

TEST(LoadTable, WhatEachLoadChanges) {
  TestDialog dlg;
  CRestoreEngine& e = dlg.engine;
  const RgbImage big = MakePhoto(6, 5, 3), other = MakePhoto(6, 5, 9), small = MakePhoto(4, 3, 8);
  LoadPictures(dlg, big, MakeMask(6, 5, {{1, 1}, {4, 3}}), &big);
  const MaskPixel* list = e.m_pMaskList.get();
  e.g_work[1][1][0] = 3.25;  // a restored value

  // A damaged image of the same size: its pixels, new grids; mask and original stay.
  ASSERT_TRUE(dlg.files.LoadDamagedImage(other).ok);
  EXPECT_EQ(e.g_work[1][1][0], double(other.Pixel(1, 1) & 0xFF));
  EXPECT_EQ(e.g_damaged[5][4][1], double((other.Pixel(5, 4) >> 8) & 0xFF));
  EXPECT_EQ(e.m_pMaskList.get(), list);
  EXPECT_EQ(e.m_nMaskCount, 2);
  EXPECT_TRUE(e.HasMask());
  EXPECT_TRUE(e.HasOriginal());
  EXPECT_EQ(e.g_original[5][4][1], double((big.Pixel(5, 4) >> 8) & 0xFF));

  // A mask load leaves the planes of the pictures alone.
  e.g_work[2][2][2] = 7.5;
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(6, 5, {{2, 2}})).ok);
  EXPECT_EQ(e.g_work[2][2][2], 7.5);
  EXPECT_EQ(e.m_nMaskCount, 1);

  // Another size: planes, grids and surfaces take it; the mask and the original
  // no longer fit, so they stop counting until loaded again.
  ASSERT_TRUE(dlg.files.LoadDamagedImage(small).ok);
  EXPECT_EQ(e.g_work.Width(), 4);
  EXPECT_EQ(e.g_work.Height(), 3);
  EXPECT_EQ(e.g_work[3][2][0], double(small.Pixel(3, 2) & 0xFF));
  EXPECT_EQ(e.GridChannel().Width(), 4);
  EXPECT_EQ(e.GridChannel().Height(), 3);
  EXPECT_EQ(dlg.files.m_surfResult.nWidth, 4);
  EXPECT_EQ(dlg.files.m_surfResult.picture.Pixel(0, 0), 0u);  // new and black
  EXPECT_FALSE(e.HasMask());
  EXPECT_FALSE(e.HasOriginal());
  EXPECT_TRUE(dlg.files.OriginalStale());
  EXPECT_FALSE(e.CanRun());

  // Back at the original's size, the original shown is taken up again.
  ASSERT_TRUE(dlg.files.LoadDamagedImage(other).ok);
  EXPECT_TRUE(e.HasOriginal());
  EXPECT_EQ(e.g_original[5][4][1], double((big.Pixel(5, 4) >> 8) & 0xFF));
}

}  // namespace
