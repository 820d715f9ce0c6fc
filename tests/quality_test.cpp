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

}  // namespace
