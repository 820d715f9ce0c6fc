#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/engine_fixture.h"

namespace {

TEST(Clamps, MapIndexesIntoTheExtent) {
  ClearPlanes();
  TestDialog dlg;
  ASSERT_TRUE(dlg.LoadDamagedImage(MakePhoto(5, 2, 1)).ok);
  const int in[7] = {-3, 0, 1, 3, 4, 5, 100};
  const int out[7] = {1, 1, 1, 3, 4, 4, 4};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(dlg.ClampX(in[k]), out[k]) << in[k];
  for (int j : {-1, 0, 1, 2, 9}) EXPECT_EQ(dlg.ClampY(j), 1) << j;  // two rows: always 1
  ASSERT_TRUE(dlg.LoadDamagedImage(MakePhoto(1, 3, 1)).ok);
  for (int i : {-1, 0, 1, 5}) EXPECT_EQ(dlg.ClampX(i), 0) << i;  // one column: always 0
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

TEST(AllocGrid, ZeroFilledColumns) {
  DoubleGrid g = AllocGrid(4, 2);
  ASSERT_FALSE(g.IsNull());
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 2; ++y) EXPECT_EQ(g[x][y], 0.0);
  EXPECT_EQ(&g[3][1], g.Data() + 7);
  EXPECT_TRUE(AllocGrid(-1, 5).IsNull());
  EXPECT_TRUE(AllocGrid(0x7FFFFFFF, 0x7FFFFFFF).IsNull());
}

class MaskStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearPlanes();
    ASSERT_TRUE(dlg.LoadDamagedImage(MakePhoto(3, 2, 1)).ok);
  }
  TestDialog dlg;
};

TEST_F(MaskStore, ListInRowOrderWithRowFlags) {
  ASSERT_TRUE(dlg.LoadMaskImage(MakeMask(3, 2, {{2, 0}, {0, 1}, {1, 1}})).ok);
  ASSERT_EQ(dlg.m_nMaskCount, 3);
  const int expected[3][2] = {{2, 0}, {0, 1}, {1, 1}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(dlg.m_pMaskList[k].x, expected[k][0]);
    EXPECT_EQ(dlg.m_pMaskList[k].y, expected[k][1]);
    EXPECT_EQ(dlg.m_pMaskList[k].active, 1);
  }
  EXPECT_EQ(dlg.m_pRowFlags[0], 1);
  EXPECT_EQ(dlg.m_pRowFlags[1], 1);
  EXPECT_EQ(g_mask[2][0] + g_mask[0][1] + g_mask[1][1], 3);
  EXPECT_EQ(g_mask[0][0] + g_mask[1][0] + g_mask[2][1], 0);
  EXPECT_EQ(dlg.m_nMaskPixels, 3u);
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_MASK_PIXELS), "3");
}

TEST_F(MaskStore, AnyColourButPureBlackIsMasked) {
  RgbImage mask = MakeMask(3, 2, {});
  mask.rgb[3 * 4] = 1;  // (1, 1) = (1, 0, 0)
  ASSERT_TRUE(dlg.LoadMaskImage(mask).ok);
  EXPECT_EQ(dlg.m_nMaskCount, 1);
  EXPECT_EQ(dlg.m_pRowFlags[0], 0);
  EXPECT_EQ(dlg.m_pRowFlags[1], 1);
}

TEST_F(MaskStore, BlackMaskClearsAnEarlierOne) {
  ASSERT_TRUE(dlg.LoadMaskImage(MakeMask(3, 2, {{0, 0}, {2, 1}})).ok);
  g_mask[5][5] = 1;  // outside the extent: left alone
  ASSERT_TRUE(dlg.LoadMaskImage(MakeMask(3, 2, {})).ok);
  EXPECT_EQ(dlg.m_nMaskCount, 0);
  EXPECT_EQ(dlg.m_pRowFlags[0] + dlg.m_pRowFlags[1], 0);
  EXPECT_EQ(g_mask[0][0] + g_mask[2][1], 0);
  EXPECT_EQ(g_mask[5][5], 1);
}

TEST(LoadTable, WhatEachLoadOverwrites) {
  ClearPlanes();
  TestDialog dlg;
  const RgbImage big = MakePhoto(6, 5, 3), small = MakePhoto(4, 3, 8);
  LoadPictures(dlg, big, MakeMask(6, 5, {{1, 1}, {4, 3}}), &big);
  const double originalCell = g_original[5][4][1];
  const MaskPixel* list = dlg.m_pMaskList.get();
  g_work[1][1][0] = 3.25;  // a restored value

  // A damaged load: new planes inside its rectangle, the rest and the mask stay.
  ASSERT_TRUE(dlg.LoadDamagedImage(small).ok);
  EXPECT_EQ(g_work[1][1][0], double(small.Pixel(1, 1) & 0xFF));
  EXPECT_EQ(g_work[5][4][1], double((big.Pixel(5, 4) >> 8) & 0xFF));
  EXPECT_EQ(g_damaged[5][4][1], double((big.Pixel(5, 4) >> 8) & 0xFF));
  EXPECT_EQ(dlg.m_pMaskList.get(), list);
  EXPECT_EQ(dlg.m_nMaskCount, 2);
  EXPECT_EQ(g_mask[4][3], 1);
  EXPECT_EQ(dlg.m_gridChannel.Width(), 4);
  EXPECT_EQ(dlg.m_gridChannel.Height(), 3);
  EXPECT_EQ(dlg.m_surfResult.nWidth, 4);
  EXPECT_EQ(GetPixel(dlg.m_surfResult.hMemDC.get(), 0, 0), 0u);  // new and black
  EXPECT_EQ(g_original[5][4][1], originalCell);

  // A mask load leaves the planes of the pictures alone.
  g_work[2][2][2] = 7.5;
  ASSERT_TRUE(dlg.LoadMaskImage(MakeMask(4, 3, {{2, 2}})).ok);
  EXPECT_EQ(g_work[2][2][2], 7.5);
  EXPECT_EQ(dlg.m_nMaskCount, 1);

  // An original load changes only the original plane, over its own size.
  const double work = g_work[2][2][2];
  ASSERT_TRUE(dlg.LoadOriginalImage(small).ok);
  EXPECT_EQ(g_original[3][2][0], double(small.Pixel(3, 2) & 0xFF));
  EXPECT_EQ(g_original[5][4][1], originalCell);
  EXPECT_EQ(g_work[2][2][2], work);
}

}  // namespace
