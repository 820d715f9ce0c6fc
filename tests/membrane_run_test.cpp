// The membrane fill run by the engine: what it fills, and the bookkeeping it shares
// with a transport run (totals, seconds, PSNR, the fields shown).
#include <gtest/gtest.h>

#include <cstring>

#include "engine/membrane.h"
#include "imaging/surface.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int kW = 40, kH = 30;

void Load(TestDialog& dlg, bool withOriginal = true) {
  const RgbImage photo = MakePhoto(kW, kH, 3);
  const RgbImage mask = MakeScratchMask(kW, kH, 5, 4);
  RgbImage damaged = photo;
  for (std::size_t i = 0; i < damaged.rgb.size(); i += 3)
    if (mask.rgb[i] != 0) damaged.rgb[i] = damaged.rgb[i + 1] = damaged.rgb[i + 2] = 240;
  LoadPictures(dlg, damaged, mask, withOriginal ? &photo : nullptr);
}

TEST(RunMembrane, FillsTheHoleAsTheSolverDoesAndShowsIt) {
  TestDialog dlg;
  Load(dlg);
  RgbPlane expected = dlg.engine.g_work;
  const MembraneReport direct = MembraneFill(&expected, dlg.engine.g_mask);
  ASSERT_EQ(direct.status, MembraneStatus::kOk);

  const auto report = RunMembrane(dlg.engine);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->status, MembraneStatus::kOk);
  EXPECT_TRUE(report->converged);
  EXPECT_EQ(report->iterations, direct.iterations);
  EXPECT_EQ(0, std::memcmp(expected.Data(), dlg.engine.g_work.Data(),
                           sizeof(double) * std::size_t(kW) * kH * 3));
  // Shown, the result pane holds the filled plane, so a save writes it.
  dlg.files.ShowResult();
  EXPECT_TRUE(dlg.files.HasResult());
  std::vector<std::uint8_t> pixels(std::size_t(kW) * kH * 3);
  dlg.engine.ResultPixels(pixels.data(), std::size_t(kW) * 3);
  EXPECT_EQ(dlg.files.m_surfResult.picture.rgb, pixels);
}

TEST(RunMembrane, AddsToTheTotalsAndMeasuresThePsnrLikeARun) {
  TestDialog dlg;
  Load(dlg);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "30");
  dlg.ticks = {5000, 5400};
  dlg.engine.OnRun();
  ASSERT_EQ(dlg.fields().m_nTotalIter, 30u);
  const float secondsBefore = dlg.fields().m_fSeconds;
  ASSERT_FLOAT_EQ(secondsBefore, 0.4f);

  // Ticks that cross 2^32 between the start and the end: 512 ms.
  dlg.ticks = {0xFFFFFF00u, 0x100000100u};
  const auto report = RunMembrane(dlg.engine);
  ASSERT_TRUE(report && report->status == MembraneStatus::kOk);
  EXPECT_GT(report->iterations, 0);
  EXPECT_EQ(dlg.fields().m_nTotalIter, 30u + std::uint32_t(report->iterations));
  EXPECT_FLOAT_EQ(dlg.fields().m_fSeconds, float(0.512 + double(secondsBefore)));
  // The edits show the new totals, as after a run.
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_TOTAL_ITER), std::to_string(dlg.fields().m_nTotalIter));

  const float psnrResult = dlg.fields().m_fPsnrResult, psnrDamaged = dlg.fields().m_fPsnrDamaged;
  dlg.engine.MeasurePsnr();
  EXPECT_EQ(dlg.fields().m_fPsnrResult, psnrResult);
  EXPECT_EQ(dlg.fields().m_fPsnrDamaged, psnrDamaged);
  EXPECT_GT(psnrResult, psnrDamaged);
}

TEST(RunMembrane, RefusesWithoutAMaskAndChangesNothing) {
  TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(kW, kH, 1)).ok);
  EXPECT_FALSE(RunMembrane(dlg.engine).has_value());
  EXPECT_EQ(dlg.fields().m_nTotalIter, 0u);
  EXPECT_FALSE(dlg.files.HasResult());
}

TEST(RunMembrane, TheTotalTypedIntoItsEditCountsAsInARun) {
  TestDialog dlg;
  Load(dlg, false);
  dlg.SetItemText(IDC_EDIT_TOTAL_ITER, "1000");
  const auto report = RunMembrane(dlg.engine);
  ASSERT_TRUE(report && report->status == MembraneStatus::kOk);
  EXPECT_EQ(dlg.fields().m_nTotalIter, 1000u + std::uint32_t(report->iterations));
}

}  // namespace
