#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/engine_fixture.h"

namespace {

class QualityTest : public ::testing::Test {
 protected:
  TestDialog dlg;
  RgbImage Grey(int w, int h, BYTE v) {
    return MakeImage(w, h, [v](int, int) { return RGB(v, v, v); });
  }
};

TEST_F(QualityTest, OneChannelOfOnePixelOffByTen) {
  const RgbImage original = MakePhoto(10, 10, 4);
  RgbImage damaged = original;
  damaged.rgb[3 * 13 + 1] = BYTE(damaged.rgb[3 * 13 + 1] > 100 ? damaged.rgb[3 * 13 + 1] - 10
                                                                : damaged.rgb[3 * 13 + 1] + 10);
  LoadPictures(dlg, damaged, MakeMask(10, 10, {}), &original);
  dlg.engine.MeasurePsnr();
  EXPECT_NEAR(dlg.engine.m_fields.m_fPsnrDamaged, 52.9020, 5e-5);
  EXPECT_EQ(dlg.engine.m_fields.m_fPsnrResult, dlg.engine.m_fields.m_fPsnrDamaged);  // work equals damaged before a run
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_PSNR_DAMAGED), "52.902");
}

TEST_F(QualityTest, EveryValueOffByOne) {
  LoadPictures(dlg, Grey(7, 3, 11), MakeMask(7, 3, {}), nullptr);
  ASSERT_TRUE(dlg.files.LoadOriginalImage(Grey(7, 3, 12)).ok);
  dlg.engine.MeasurePsnr();
  EXPECT_EQ(dlg.engine.m_fields.m_fPsnrDamaged, float(20.0 * std::log10(255.0)));
  EXPECT_NEAR(dlg.engine.m_fields.m_fPsnrDamaged, 48.1308, 5e-5);
}

TEST_F(QualityTest, WithoutAnOriginalTheReferenceIsBlack) {
  LoadPictures(dlg, Grey(5, 5, 128), MakeMask(5, 5, {}));
  dlg.engine.MeasurePsnr();
  EXPECT_NEAR(dlg.engine.m_fields.m_fPsnrResult, 5.98660, 5e-6);
    TestDialog white;
  LoadPictures(white, Grey(5, 5, 255), MakeMask(5, 5, {}));
  white.engine.MeasurePsnr();
  EXPECT_EQ(white.engine.m_fields.m_fPsnrResult, 0.0f);
}

TEST_F(QualityTest, IdenticalIsInfiniteAndEmptyIsNotANumber) {
  const RgbImage photo = MakePhoto(6, 4, 1);
  LoadPictures(dlg, photo, MakeMask(6, 4, {}), &photo);
  dlg.engine.MeasurePsnr();
  EXPECT_TRUE(std::isinf(dlg.engine.m_fields.m_fPsnrResult) && dlg.engine.m_fields.m_fPsnrResult > 0);
  EXPECT_TRUE(std::isinf(dlg.engine.m_fields.m_fPsnrDamaged));
  TestDialog empty;
  empty.engine.MeasurePsnr();
  EXPECT_TRUE(std::isnan(empty.engine.m_fields.m_fPsnrDamaged));
  EXPECT_TRUE(std::isnan(empty.engine.m_fields.m_fPsnrResult));
}

TEST_F(QualityTest, UnmaskedPixelsCountLikeTheOthers) {
  const RgbImage original = Grey(10, 10, 100);
  LoadPictures(dlg, Grey(10, 10, 100), MakeMask(10, 10, {{2, 2}}), &original);
  dlg.engine.g_work[2][2][0] = 90;  // one value of 300 off by 10
  dlg.engine.MeasurePsnr();
  EXPECT_NEAR(dlg.engine.m_fields.m_fPsnrResult, 52.9020, 5e-5);
  EXPECT_TRUE(std::isinf(dlg.engine.m_fields.m_fPsnrDamaged));
}

TEST_F(QualityTest, ARunOverExtremeBordersMeasuresAsTheDoublesOfItsPictures) {
  // 0 and 255 along the borders of both pictures, and masked pixels on every edge.
  const int W = 24, H = 17;
  const auto extremes = [W, H](const RgbImage& photo, int shift) {
    RgbImage p = photo;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (x == 0 || y == 0 || x == W - 1 || y == H - 1)
          for (int c = 0; c < 3; ++c) p.At(x, y)[c] = (x + y + c + shift) % 3 ? 255 : 0;
    return p;
  };
  const RgbImage damaged = extremes(MakePhoto(W, H, 7), 0), original = extremes(MakePhoto(W, H, 8), 1);
  std::vector<std::pair<int, int>> marked;
  for (int x = 0; x < W; ++x) marked.push_back({x, (x * 5) % H});
  for (int y = 0; y < H; ++y) marked.push_back({y % 2 ? 0 : W - 1, y});
  for (int x = 0; x < W; x += 3) marked.push_back({x, 0});
  LoadPictures(dlg, damaged, MakeMask(W, H, marked), &original);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "40");
  dlg.engine.OnRun();

  // The sums of the measure over doubles of the loaded bytes, in scan order.
  double sd[3] = {0, 0, 0}, sr[3] = {0, 0, 0};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        const double o = double(original.At(x, y)[c]), d = double(damaged.At(x, y)[c]);
        const double w = dlg.engine.g_work[x][y][c];
        sd[c] = (o - d) * (o - d) + sd[c];
        sr[c] = (o - w) * (o - w) + sr[c];
        EXPECT_EQ(double(dlg.engine.g_damaged[x][y][c]), d);
      }
  const double n = double(W * H), third = 1.0 / 3.0;
  const auto psnr = [&](const double* s) {
    return float(20.0 * std::log10(255.0 / std::sqrt(((s[2] / n + s[1] / n) + s[0] / n) * third)));
  };
  EXPECT_EQ(dlg.engine.m_fields.m_fPsnrDamaged, psnr(sd));
  EXPECT_EQ(dlg.engine.m_fields.m_fPsnrResult, psnr(sr));
  EXPECT_NE(psnr(sr), psnr(sd));  // the run changed the masked pixels
}

}  // namespace
