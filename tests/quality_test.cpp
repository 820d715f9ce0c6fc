#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/engine_fixture.h"

namespace {

class QualityTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearPlanes(); }
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
  dlg.MeasurePsnr();
  EXPECT_NEAR(dlg.m_fPsnrDamaged, 52.9020, 5e-5);
  EXPECT_EQ(dlg.m_fPsnrResult, dlg.m_fPsnrDamaged);  // work equals damaged before a run
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_PSNR_DAMAGED), "52.902");
}

TEST_F(QualityTest, EveryValueOffByOne) {
  LoadPictures(dlg, Grey(7, 3, 11), MakeMask(7, 3, {}), nullptr);
  ASSERT_TRUE(dlg.LoadOriginalImage(Grey(7, 3, 12)).ok);
  dlg.MeasurePsnr();
  EXPECT_EQ(dlg.m_fPsnrDamaged, float(20.0 * std::log10(255.0)));
  EXPECT_NEAR(dlg.m_fPsnrDamaged, 48.1308, 5e-5);
}

TEST_F(QualityTest, WithoutAnOriginalTheReferenceIsBlack) {
  LoadPictures(dlg, Grey(5, 5, 128), MakeMask(5, 5, {}));
  dlg.MeasurePsnr();
  EXPECT_NEAR(dlg.m_fPsnrResult, 5.98660, 5e-6);
  ClearPlanes();
  TestDialog white;
  LoadPictures(white, Grey(5, 5, 255), MakeMask(5, 5, {}));
  white.MeasurePsnr();
  EXPECT_EQ(white.m_fPsnrResult, 0.0f);
}

TEST_F(QualityTest, IdenticalIsInfiniteAndEmptyIsNotANumber) {
  const RgbImage photo = MakePhoto(6, 4, 1);
  LoadPictures(dlg, photo, MakeMask(6, 4, {}), &photo);
  dlg.MeasurePsnr();
  EXPECT_TRUE(std::isinf(dlg.m_fPsnrResult) && dlg.m_fPsnrResult > 0);
  EXPECT_TRUE(std::isinf(dlg.m_fPsnrDamaged));
  TestDialog empty;
  empty.MeasurePsnr();
  EXPECT_TRUE(std::isnan(empty.m_fPsnrDamaged));
  EXPECT_TRUE(std::isnan(empty.m_fPsnrResult));
}

TEST_F(QualityTest, UnmaskedPixelsCountLikeTheOthers) {
  const RgbImage original = Grey(10, 10, 100);
  LoadPictures(dlg, Grey(10, 10, 100), MakeMask(10, 10, {{2, 2}}), &original);
  g_work[2][2][0] = 90;  // one value of 300 off by 10
  dlg.MeasurePsnr();
  EXPECT_NEAR(dlg.m_fPsnrResult, 52.9020, 5e-5);
  EXPECT_TRUE(std::isinf(dlg.m_fPsnrDamaged));
}

}  // namespace
