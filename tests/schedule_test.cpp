#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "engine/restore.h"
#include "tests/support/engine_fixture.h"

namespace {

// Records the steps a run makes instead of running them; PSNR values come from a
// script so the automatic mode's decisions can be followed.
class RecordingEngine : public CRestoreEngine {
 public:
  // The reference path makes each step its own call, so every call is seen.
  explicit RecordingEngine(CRunClock& clock) : CRestoreEngine(clock) {
    KernelSettings k;
    k.referenceKernels = true;
    SetKernels(k);
  }
  std::vector<std::string> calls;
  std::deque<float> psnrResults;
  float psnrDamaged = 20.0f;
  void TransportStep(int iterations, int count, double) override {
    calls.push_back("T" + std::to_string(iterations) + "/" + std::to_string(count));
  }
  void DiffusionStep(int iterations, int channel) override {
    calls.push_back("D" + std::to_string(iterations) + "c" + std::to_string(channel));
  }
  void MeasurePsnr() override {
    m_fields.m_fPsnrDamaged = psnrDamaged;
    if (!psnrResults.empty()) {
      m_fields.m_fPsnrResult = psnrResults.front();
      psnrResults.pop_front();
    }
    ShowFields();
  }
};

class RecordingDialog : private ScriptedClockHolder, public CFileServices, public CRunObserver {
 public:
  RecordingDialog() {
    engine.SetObserver(this);
    engine.SetDefaults();
  }
  void SetItemText(int id, const std::string& text) { TypeIntoField(engine, id, text); }
  std::string GetItemText(int id) const { return FieldText(engine, id); }
  void Progress(const RunProgress& p) override {
    if (p.automatic && p.measured) cycles.emplace_back(p.cycle, p.psnr);
  }
  int TransportCalls() const {
    int n = 0;
    for (const auto& c : engine.calls) n += c[0] == 'T';
    return n;
  }
  RecordingEngine engine{clock};
  CImageFiles files{engine, *this};
  std::deque<std::uint64_t>& ticks = clock.ticks;
  std::vector<std::pair<int, float>> cycles;
  std::vector<std::string>& calls = engine.calls;
  std::deque<float>& psnrResults = engine.psnrResults;
  float& psnrDamaged = engine.psnrDamaged;
};

std::vector<std::string> Expected(const std::vector<int>& transport,
                                  const std::vector<bool>& diffuse, int diffusion, int count) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < transport.size(); ++i) {
    out.push_back("T" + std::to_string(transport[i]) + "/" + std::to_string(count));
    if (diffuse[i])
      for (int c = 0; c < 3; ++c)
        out.push_back("D" + std::to_string(diffusion) + "c" + std::to_string(c));
  }
  return out;
}

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(8, 8, 1)).ok);
    ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(8, 8, {{2, 2}, {3, 3}, {5, 1}})).ok);
    // With an original the automatic mode follows the PSNR gain.
    ASSERT_TRUE(dlg.files.LoadOriginalImage(MakePhoto(8, 8, 2)).ok);
  }
  // The PSNR rule of the automatic mode needs an original to measure against;
  // without one the mode stops by the settle rule instead.
  void WithOriginal() { ASSERT_TRUE(dlg.files.LoadOriginalImage(MakePhoto(8, 8, 2)).ok); }
  void Run(const char* n, const char* per, const char* diffusion) {
    dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, n);
    dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, per);
    dlg.SetItemText(IDC_EDIT_DIFFUSION_ITER, diffusion);
    dlg.engine.OnRun();
  }
  RecordingDialog dlg;
};

TEST_F(ScheduleTest, DefaultBlocks) {
  dlg.engine.OnRun();
  EXPECT_EQ(dlg.calls, Expected({15, 15, 15, 15, 15, 15, 10}, std::vector<bool>(7, true), 2, 3));
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, 100u);
}

TEST_F(ScheduleTest, BlockArithmetic) {
  Run("30", "15", "2");
  EXPECT_EQ(dlg.calls, Expected({15, 15, 0}, {true, true, false}, 2, 3));
  dlg.calls.clear();
  Run("10", "15", "2");
  EXPECT_EQ(dlg.calls, Expected({10}, {true}, 2, 3));
  dlg.calls.clear();
  Run("37", "0", "4");
  EXPECT_EQ(dlg.calls, Expected({37}, {true}, 4, 3));
  dlg.calls.clear();
  Run("31", "15", "0");
  EXPECT_EQ(dlg.calls, Expected({15, 15, 1}, {false, false, false}, 0, 3));
  dlg.calls.clear();
  const std::uint32_t before = dlg.engine.m_fields.m_nTotalIter;
  dlg.psnrResults = {33.0f};
  Run("0", "15", "2");
  EXPECT_EQ(dlg.calls, Expected({0}, {false}, 2, 3));
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, before);
  EXPECT_EQ(dlg.engine.m_fields.m_fPsnrResult, 33.0f);  // measured and shown all the same
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_PSNR_RESULT), "33");
}

TEST_F(ScheduleTest, SecondsAreTheExactTicksBetweenStartAndEnd) {
  // A start tick rounded to a float would make this 0.501 s.
  dlg.ticks = {100000001u, 100000501u};
  dlg.engine.OnRun();
  EXPECT_EQ(dlg.engine.m_fields.m_fSeconds, float(500.0 * double(0.001f)));
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_SECONDS), "0.5");
  // Seconds and iterations accumulate from what the edits hold.
  dlg.SetItemText(IDC_EDIT_SECONDS, "10");
  dlg.ticks = {2000u, 2250u};
  dlg.engine.OnRun();
  EXPECT_EQ(dlg.engine.m_fields.m_fSeconds, float(250.0 * double(0.001f) + 10.0));
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, 200u);
}

TEST_F(ScheduleTest, SecondsAt40DaysAcrossTheWrapAndOnAClockThatStepsBack) {
  constexpr std::uint64_t kDays40 = 40ull * 24 * 3600 * 1000;  // a float step is 256 ms here
  constexpr std::uint64_t kWrap = 1ull << 32;
  const struct {
    std::uint64_t start, end;
    float seconds;
  } cases[] = {
      {kDays40 + 1, kDays40 + 4, float(3.0 * double(0.001f))},
      {kWrap - 100, kWrap + 400, float(500.0 * double(0.001f))},
      {kWrap + 7, kWrap + 7, 0.0f},
      {kDays40 + 900, kDays40 + 10, 0.0f},  // a clock read backwards adds nothing
  };
  for (const auto& c : cases) {
    dlg.SetItemText(IDC_EDIT_SECONDS, "0");
    dlg.ticks = {c.start, c.end};
    dlg.engine.OnRun();
    EXPECT_EQ(dlg.engine.m_fields.m_fSeconds, c.seconds) << c.start << " to " << c.end;
    dlg.SetItemText(IDC_EDIT_SECONDS, "0");
    dlg.ticks = {c.start, c.end};
    dlg.engine.OnAuto();
    EXPECT_EQ(dlg.engine.m_fields.m_fSeconds, c.seconds) << "automatic, " << c.start;
  }
}

TEST_F(ScheduleTest, AutomaticModeStopsWhenTheGainNoLongerExceedsTheThreshold) {
  WithOriginal();
  dlg.psnrResults = {25.0f, 25.5f, 25.6f, 25.6f};
  dlg.engine.OnAuto();
  EXPECT_EQ(dlg.TransportCalls(), 8);
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, 60u);
  EXPECT_EQ(dlg.calls.front(), "T15/3");
  EXPECT_EQ(dlg.calls[1], "D2c0");
  ASSERT_EQ(dlg.cycles.size(), 4u);
  EXPECT_EQ(dlg.cycles.back().first, 8);
}

TEST_F(ScheduleTest, AutomaticModeFirstGainBelowThreshold) {
  WithOriginal();
  dlg.SetItemText(IDC_EDIT_THRESHOLD, "10");
  dlg.psnrResults = {25.0f, 40.0f};
  dlg.engine.OnAuto();
  EXPECT_EQ(dlg.TransportCalls(), 5);
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, 15u);
}

TEST_F(ScheduleTest, AutomaticModeInfinityContinuesThenStops) {
  WithOriginal();
  const float inf = INFINITY;
  dlg.psnrResults = {25.0f, inf, inf, 99.0f};
  dlg.engine.OnAuto();
  EXPECT_EQ(dlg.TransportCalls(), 7);  // inf - 20 goes on, inf - inf is not a number
  EXPECT_EQ(dlg.engine.m_fields.m_nTotalIter, 45u);
  EXPECT_EQ(dlg.GetItemText(IDC_EDIT_PSNR_RESULT), "inf");
  dlg.engine.ReadShownFields();  // the infinite value survives the read-back
  EXPECT_TRUE(std::isinf(dlg.engine.m_fields.m_fPsnrResult));
}

TEST_F(ScheduleTest, FirstGainIsTakenFromTheSixDigitTexts) {
  WithOriginal();
  // 20.0000019 and 20.0000038 both show as "20": the first gain is 0, not 2e-6.
  dlg.psnrDamaged = 20.0000019f;
  dlg.psnrResults = {20.0000038f, 50.0f};
  dlg.engine.OnAuto();
  EXPECT_EQ(dlg.TransportCalls(), 5);
  // The exact values differ, so the rounding is what stopped the mode.
  EXPECT_GT(20.0000038f - 20.0000019f, 0.0f);
}

TEST_F(ScheduleTest, RunIsRefusedUntilImageAndMatchingMaskAreLoaded) {
  RecordingDialog none;
  const RunOutcome refused = Restore(none.engine, RunSettings());
  EXPECT_EQ(refused.end, RunEnd::kNotRun);
  EXPECT_EQ(refused.message, "Load a damaged image and a mask first.");
  EXPECT_EQ(refused.caption, "not valid");
  none.engine.OnRun();
  none.engine.OnAuto();
  EXPECT_TRUE(none.calls.empty());
  EXPECT_EQ(none.engine.m_fields.m_nTotalIter, 0u);

  RecordingDialog noMask;
  ASSERT_TRUE(noMask.files.LoadDamagedImage(MakePhoto(5, 5, 2)).ok);
  EXPECT_FALSE(noMask.engine.CanRun());
  noMask.engine.OnRun();
  EXPECT_TRUE(noMask.calls.empty());

  // A damaged image of another size after the mask: the mask no longer fits.
  ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(9, 8, 2)).ok);
  EXPECT_FALSE(dlg.engine.CanRun());
  dlg.engine.OnRun();
  EXPECT_TRUE(dlg.calls.empty());
  // Back to the size the mask was built for: it runs again.
  ASSERT_TRUE(dlg.files.LoadDamagedImage(MakePhoto(8, 8, 2)).ok);
  dlg.engine.OnRun();
  EXPECT_FALSE(dlg.calls.empty());
}

TEST_F(ScheduleTest, EmptyMaskRuns) {
  ASSERT_TRUE(dlg.files.LoadMaskImage(MakeMask(8, 8, {})).ok);
  EXPECT_TRUE(dlg.engine.CanRun());
  dlg.engine.OnRun();
  EXPECT_EQ(dlg.calls.front(), "T15/0");
}

TEST(ShowResult, TruncatesWorkValuesIntoTheResultSurface) {
  TestDialog dlg;
  LoadPictures(dlg, MakePhoto(4, 3, 1), MakeMask(4, 3, {{1, 1}}));
  RgbPlane& g_work = dlg.engine.g_work;
  g_work[1][1][0] = 137.9;
  g_work[1][1][1] = 0.4;
  g_work[1][1][2] = 255.0;
  dlg.files.ShowResult();
  EXPECT_EQ(dlg.files.m_surfResult.picture.Pixel(1, 1), RGB(137, 0, 255));
  EXPECT_EQ(dlg.files.m_surfResult.picture.Pixel(3, 2),
            RGB(BYTE(g_work[3][2][0]), BYTE(g_work[3][2][1]), BYTE(g_work[3][2][2])));
}

// A real run that is asked to stop: `stopWhen` sees how often the engine has asked
// and the iterations reported so far.
class StoppingDialog : public TestDialog {
 public:
  std::function<bool(int asked, int reported)> stopWhen;
  std::vector<int> reported;
  void Progress(const RunProgress& p) override {
    TestDialog::Progress(p);
    reported.push_back(p.iterationsDone);
  }
  bool StopRequested() override {
    ++asked;
    return stopWhen && stopWhen(asked, reported.empty() ? 0 : reported.back());
  }
  int asked = 0;
};

void LoadScratched(TestDialog& dlg) {
  const RgbImage original = MakePhoto(40, 30, 7);
  LoadPictures(dlg, MakePhoto(40, 30, 8), MakeScratchMask(40, 30, 3, 4), &original);
}

void SetRun(TestDialog& dlg, int n, int per, int diffusion) {
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, std::to_string(n));
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, std::to_string(per));
  dlg.SetItemText(IDC_EDIT_DIFFUSION_ITER, std::to_string(diffusion));
}

void ExpectSameWork(const TestDialog& a, const TestDialog& b) {
  const RgbPlane& x = a.engine.g_work;
  const RgbPlane& y = b.engine.g_work;
  ASSERT_EQ(x.Width(), y.Width());
  for (int i = 0; i < x.Width(); ++i)
    for (int j = 0; j < x.Height(); ++j)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(std::memcmp(&x[i][j][c], &y[i][j][c], sizeof(double)), 0)
            << "pixel " << i << ", " << j << " channel " << c;
}

// Stopped between blocks, a run has counted what ran, and the rest of it, run
// next, ends exactly where the whole run would have.
TEST(StoppedRun, TheRestCompletesItBitForBit) {
  StoppingDialog stopped;
  LoadScratched(stopped);
  stopped.stopWhen = [](int, int reported) { return reported >= 15; };
  SetRun(stopped, 40, 5, 2);
  stopped.engine.OnRun();
  EXPECT_TRUE(stopped.engine.LastRunStopped());
  EXPECT_EQ(stopped.reported, (std::vector<int>{5, 10, 15}));
  EXPECT_EQ(stopped.fields().m_nTotalIter, 15u);
  stopped.stopWhen = nullptr;
  SetRun(stopped, 25, 5, 2);
  stopped.engine.OnRun();
  EXPECT_FALSE(stopped.engine.LastRunStopped());
  EXPECT_EQ(stopped.fields().m_nTotalIter, 40u);

  TestDialog whole;
  LoadScratched(whole);
  SetRun(whole, 40, 5, 2);
  whole.engine.OnRun();
  ExpectSameWork(stopped, whole);
  EXPECT_EQ(stopped.fields().m_fPsnrResult, whole.fields().m_fPsnrResult);
}

// One long block (no diffusion between) stops between its sweeps: the plane is
// that of a run of the sweeps it counted.
TEST(StoppedRun, ALongBlockStopsBetweenSweeps) {
  StoppingDialog stopped;
  LoadScratched(stopped);
  stopped.stopWhen = [](int asked, int) { return asked >= 9; };
  SetRun(stopped, 60, 0, 0);
  stopped.engine.OnRun();
  EXPECT_TRUE(stopped.engine.LastRunStopped());
  const std::uint32_t ran = stopped.fields().m_nTotalIter;
  EXPECT_GT(ran, 0u);
  EXPECT_LT(ran, 60u);

  TestDialog whole;
  LoadScratched(whole);
  SetRun(whole, int(ran), 0, 0);
  whole.engine.OnRun();
  ExpectSameWork(stopped, whole);
}

// The automatic mode ends on a whole cycle: stopped after cycle c, its plane is
// that of c blocks of 15 iterations, each followed by two diffusion passes.
TEST(StoppedRun, AutomaticModeStopsAfterWholeCycles) {
  for (const bool withOriginal : {true, false}) {
    SCOPED_TRACE(withOriginal ? "with an original" : "settling");
    StoppingDialog stopped;
    if (withOriginal) {
      LoadScratched(stopped);
    } else {
      LoadPictures(stopped, MakePhoto(40, 30, 8), MakeScratchMask(40, 30, 3, 4));
    }
    stopped.SetItemText(IDC_EDIT_THRESHOLD, "0");
    stopped.stopWhen = [](int, int reported) { return reported >= 7 * 15; };
    stopped.engine.OnAuto();
    EXPECT_TRUE(stopped.engine.LastRunStopped());
    ASSERT_FALSE(stopped.reported.empty());
    EXPECT_EQ(stopped.reported.back(), 7 * 15);

    TestDialog blocks;
    LoadScratched(blocks);
    SetRun(blocks, 7 * 15, 15, 2);
    blocks.engine.OnRun();
    ExpectSameWork(stopped, blocks);
  }
}

// Engines share nothing: two restorations at once on two threads (each sharing its
// sweeps with a thread of its own) end exactly as each does alone.
TEST(TwoEngines, RunAtOnceAsTheyRunAlone) {
  const auto restore = [](unsigned seed, bool automatic, RgbPlane* work, float* psnr) {
    TestDialog dlg;
    KernelSettings k = dlg.engine.Kernels();
    k.parallelFrom = 1;
    dlg.engine.SetKernels(k);
    const RgbImage original = MakePhoto(120, 90, seed);
    LoadPictures(dlg, MakePhoto(120, 90, seed + 1), MakeScratchMask(120, 90, seed, 6), &original);
    SetRun(dlg, 45, 15, 2);
    if (automatic)
      dlg.engine.OnAuto();
    else
      dlg.engine.OnRun();
    work->Resize(120, 90);
    std::memcpy(work->Data(), dlg.engine.g_work.Data(), 120 * 90 * 3 * sizeof(double));
    *psnr = dlg.fields().m_fPsnrResult;
  };
  RgbPlane alone[2], together[2];
  float psnrAlone[2], psnrTogether[2];
  restore(1, false, &alone[0], &psnrAlone[0]);
  restore(2, true, &alone[1], &psnrAlone[1]);
  std::thread other([&] { restore(2, true, &together[1], &psnrTogether[1]); });
  restore(1, false, &together[0], &psnrTogether[0]);
  other.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(std::memcmp(alone[i].Data(), together[i].Data(), 120 * 90 * 3 * sizeof(double)), 0)
        << "restoration " << i;
    EXPECT_EQ(psnrAlone[i], psnrTogether[i]);
  }
  EXPECT_NE(psnrAlone[0], psnrAlone[1]);
}

}  // namespace

// Without an original, the held-out rule: the copies of the mask run beside the real
// picture and never touch it (the result is that of the same number of cycles run
// alone), each measured cycle reports the copies' PSNR, and the mode ends only once
// that PSNR no longer rises and the result has settled. A mask of every pixel leaves
// no room for a copy: the settle rule ends it instead.
TEST(HeldOutRule, RunsBesideThePictureAndEndsWhenTheCopiesStopGaining) {
  TestDialog held;
  LoadPictures(held, MakePhoto(48, 36, 8), MakeScratchMask(48, 36, 3, 4));
  held.SetItemText(IDC_EDIT_THRESHOLD, "0");
  held.engine.SetAutoRule(AutoRule::kHeldOut, kDefaultSettleLevel);
  std::vector<double> changes;
  struct Changes : CRunObserver {
    TestDialog* dlg;
    std::vector<double>* changes;
    void Progress(const RunProgress& p) override {
      dlg->Progress(p);
      if (p.measured) changes->push_back(p.meanChange);
    }
  } observer;
  observer.dlg = &held;
  observer.changes = &changes;
  held.engine.SetObserver(&observer);
  held.engine.OnAuto();
  ASSERT_EQ(held.engine.LastAutoRule(), AutoRule::kHeldOut);
  EXPECT_FALSE(held.engine.LastRunUnsettled());
  const auto& cycles = held.cycles;
  ASSERT_GE(cycles.size(), 2u);
  EXPECT_EQ(double(cycles.back().second), float(held.engine.LastHeldOutPsnr()));
  // Every further cycle was run on a gain or on a change; the last ended on neither.
  for (std::size_t k = 1; k + 1 < cycles.size(); ++k)
    EXPECT_TRUE(cycles[k].second >= cycles[k - 1].second || changes[k] > kDefaultSettleLevel) << k;
  EXPECT_FALSE(cycles.back().second > cycles[cycles.size() - 2].second ||
               changes.back() > kDefaultSettleLevel);

  TestDialog alone;
  LoadPictures(alone, MakePhoto(48, 36, 8), MakeScratchMask(48, 36, 3, 4));
  for (int k = 0; k < cycles.back().first; ++k) alone.engine.RunCycle();
  ExpectSameWork(held, alone);

  TestDialog full;
  const RgbImage photo = MakePhoto(20, 16, 2);
  RgbImage everything = photo;
  std::fill(everything.rgb.begin(), everything.rgb.end(), std::uint8_t(255));
  LoadPictures(full, photo, everything);
  full.engine.SetAutoRule(AutoRule::kHeldOut, kDefaultSettleLevel);
  full.engine.OnAuto();
  EXPECT_EQ(full.engine.LastAutoRule(), AutoRule::kSettle);
  EXPECT_TRUE(std::isnan(full.engine.LastHeldOutPsnr()));
}
