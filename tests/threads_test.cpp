// The engine's threads share the transport sweeps (bands of rows, each behind the
// band above) and the diffusion passes (parts of the cell lists): every count of
// threads, more than the machine's cores included, must give the bits of one.
// A batch shares the processor's threads out between the rows it runs at once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "engine/auto_fill.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/plane_builders.h"

namespace {

struct Outcome {
  std::vector<double> work, update, weight;
  float psnrDamaged = 0, psnrResult = 0;
  std::uint32_t totalIterations = 0;
  int moved = 0;  // channel values the run changed
};

// The photo with its masked pixels painted one colour in every other block of 8 x 8
// (flat holes, which a sweep's direction crosses widen through), restored with
// `threads` threads sharing even the smallest work; the photo is the original.
Outcome Restore(int threads, const RgbImage& photo, const RgbImage& mask, bool automatic) {
  RgbImage damaged = photo;
  for (int y = 0; y < photo.height; ++y)
    for (int x = 0; x < photo.width; ++x) {
      const std::size_t i = (std::size_t(y) * std::size_t(photo.width) + std::size_t(x)) * 3;
      if ((mask.rgb[i] | mask.rgb[i + 1] | mask.rgb[i + 2]) && (x / 8 + y / 8) % 2 == 0)
        damaged.rgb[i] = damaged.rgb[i + 1] = damaged.rgb[i + 2] = 200;
    }
  TestDialog dlg;
  KernelSettings k;
  k.threads = threads;
  k.parallelFrom = 1;
  dlg.engine.SetKernels(k);
  LoadPictures(dlg, damaged, mask, &photo);
  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.3");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "40");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, "7");
  if (automatic) {
    dlg.SetItemText(IDC_EDIT_THRESHOLD, "0");
    dlg.engine.OnAuto();
  } else {
    dlg.engine.OnRun();
  }
  Outcome out;
  const std::size_t pixels = std::size_t(photo.width) * std::size_t(photo.height);
  const RgbPlane& work = dlg.engine.g_work;
  out.work.assign(work.Data(), work.Data() + pixels * 3);
  out.update.assign(dlg.engine.m_pUpdate.get(),
                    dlg.engine.m_pUpdate.get() + std::size_t(dlg.engine.m_nMaskCount) * 3);
  out.weight.assign(dlg.engine.GridWeight().Data(), dlg.engine.GridWeight().Data() + pixels);
  out.psnrDamaged = dlg.engine.m_fields.m_fPsnrDamaged;
  out.psnrResult = dlg.engine.m_fields.m_fPsnrResult;
  out.totalIterations = dlg.engine.m_fields.m_nTotalIter;
  for (std::size_t i = 0; i < pixels * 3; ++i) out.moved += damaged.rgb[i] != out.work[i];
  return out;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// A frame `width` pixels wide along the edges and a centred hole.
RgbImage FrameAndHole(int w, int h, int width, int holeW, int holeH) {
  return MakeImage(w, h, [=](int x, int y) {
    const bool frame = x < width || y < width || x >= w - width || y >= h - width;
    const bool hole = std::abs(2 * x - w) < holeW && std::abs(2 * y - h) < holeH;
    return frame || hole ? RGB(255, 255, 255) : RGB(0, 0, 0);
  });
}

// Bands of rows whose work differs widely, six rows after the first as the sweep
// takes them: six rows across the picture, then six whose pixels all lie at the
// left, and so on, over columns of one colour. A band of short rows is done long
// before the band above it, and the band below must still wait for that one: its
// direction crosses run up the flat columns into those rows.
RgbImage LongAndShortBands(int w, int h) {
  return MakeImage(w, h, [](int x, int y) {
    const bool longRows = y == 0 || ((y - 1) / 6) % 2 == 0;
    return longRows || x < 5 ? RGB(255, 255, 255) : RGB(0, 0, 0);
  });
}

struct Case {
  const char* name;
  RgbImage photo, mask;
};

std::vector<Case> Cases() {
  const RgbImage flat = MakeImage(48, 90, [](int, int) { return RGB(120, 64, 200); });
  const RgbImage striped =
      MakeImage(400, 240, [](int x, int) { return x % 2 ? RGB(30, 90, 150) : RGB(220, 20, 60); });
  std::vector<std::pair<int, int>> all;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 23; ++x) all.emplace_back(x, y);
  return {
      {"flat picture, hole", flat, FrameAndHole(48, 90, 0, 30, 70)},
      {"full mask", MakePhoto(23, 60, 3), MakeMask(23, 60, all)},
      {"border frame", MakePhoto(41, 77, 4), FrameAndHole(41, 77, 2, 0, 0)},
      {"one row", MakePhoto(300, 1, 5), FrameAndHole(300, 1, 0, 400, 4)},
      {"one column", MakePhoto(1, 300, 6), FrameAndHole(1, 300, 0, 4, 400)},
      {"scratches", MakePhoto(120, 100, 7), MakeScratchMask(120, 100, 7, 9)},
      {"scratches and frame", MakePhoto(97, 131, 8), FrameAndHole(97, 131, 1, 40, 20)},
      {"long and short bands", striped, LongAndShortBands(400, 240)},
  };
}

TEST(Threads, EveryCountGivesTheBitsOfOne) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    for (bool automatic : {false, true}) {
      SCOPED_TRACE(automatic ? "automatic run" : "plain run");
      const Outcome one = Restore(1, c.photo, c.mask, automatic);
      for (int threads : {2, 3, 4, 8}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const Outcome many = Restore(threads, c.photo, c.mask, automatic);
        EXPECT_TRUE(SameBits(many.work, one.work)) << "work plane";
        EXPECT_TRUE(SameBits(many.update, one.update)) << "update buffer";
        EXPECT_TRUE(SameBits(many.weight, one.weight)) << "weights";
        EXPECT_EQ(0, std::memcmp(&many.psnrResult, &one.psnrResult, sizeof(float)));
        EXPECT_EQ(0, std::memcmp(&many.psnrDamaged, &one.psnrDamaged, sizeof(float)));
        EXPECT_EQ(many.totalIterations, one.totalIterations);
      }
      // The runs did restore something (a picture one pixel high or wide has no
      // isophote to carry anything along).
      if (c.photo.width > 1 && c.photo.height > 1) {
        EXPECT_GT(one.moved, 0);
      }
    }
  }
}

// The automatic fill takes any count (its two lanes use at most two) and gives the
// same bits.
TEST(Threads, AutomaticFillTakesAnyCount) {
  using planetest::MakeMask;
  using planetest::MakePlane;
  const RgbPlane photo =
      MakePlane(64, 40, [](int x, int y, int c) { return double((x * 7 + y * 3 + c * 50) % 256); });
  const MaskPlane mask = MakeMask(64, 40, [](int x, int y) {
    return (y == 20 && x > 5 && x < 50) || (x == 30 && y > 8 && y < 33);
  });
  std::vector<RgbPlane> results;
  for (int threads : {1, 3, 8}) {
    RgbPlane work = photo;
    AutoOptions o;
    o.threads = threads;
    const AutoReport report = AutoFill(&work, mask, o);
    ASSERT_TRUE(report.outcome.ok()) << threads << ": " << report.outcome.reason;
    results.push_back(work);
  }
  for (std::size_t i = 1; i < results.size(); ++i)
    EXPECT_EQ(0, std::memcmp(results[i].Data(), results[0].Data(),
                             std::size_t(64) * 40 * 3 * sizeof(double)));
}

// Every core is used, no job is left without one, and no job has two more than
// another.
TEST(Threads, ABatchSharesTheCoresBetweenItsJobs) {
  for (int cores = 1; cores <= 40; ++cores)
    for (std::size_t jobs = 1; jobs <= 48; ++jobs) {
      int sum = 0, least = cores + 1, most = 0;
      for (std::size_t job = 0; job < jobs; ++job) {
        const int t = RowThreads(cores, jobs, job);
        sum += t;
        least = std::min(least, t);
        most = std::max(most, t);
      }
      ASSERT_EQ(sum, std::max(cores, int(jobs))) << cores << " cores, " << jobs << " jobs";
      ASSERT_GE(least, 1);
      ASSERT_LE(most - least, 1);
    }
  EXPECT_EQ(RowThreads(8, 1, 0), 8);
  EXPECT_EQ(RowThreads(8, 3, 0), 3);
  EXPECT_EQ(RowThreads(8, 3, 2), 2);
}

}  // namespace
