// Run schedule: OnRun runs m_nTransportIter transport iterations in blocks of
// m_nTransportPerDiffusion, each block (and a non-empty tail) followed by
// m_nDiffusionIter diffusion iterations on channels 0, 1, 2; OnAuto runs cycles
// of 15 transport and 2 diffusion iterations, five at first, then more while the
// PSNR gain exceeds m_fThreshold. Both add the elapsed seconds and the iteration
// count to the totals, measure the PSNR and show the work plane.
#include <cmath>

#include "engine/engine.h"

namespace {
constexpr int kCycleTransport = 15;
constexpr int kCycleDiffusion = 2;
constexpr int kOpeningCycles = 5;
constexpr float kMillisecond = 0.001f;

// Disables both run buttons and shows the busy cursor for the life of a run.
class RunGuard {
 public:
  explicit RunGuard(CDialogHost& dlg) : m_dlg(dlg) {
    m_dlg.EnableItem(IDC_BTN_RUN, false);
    m_dlg.EnableItem(IDC_BTN_AUTO, false);
    m_dlg.BeginWaitCursor();
  }
  ~RunGuard() {
    m_dlg.EndWaitCursor();
    m_dlg.EnableItem(IDC_BTN_RUN, true);
    m_dlg.EnableItem(IDC_BTN_AUTO, true);
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  CDialogHost& m_dlg;
};

float AddSeconds(std::uint32_t endTick, float startTick, float seconds) {
  return float((double(endTick) - double(startTick)) * double(kMillisecond) + double(seconds));
}
}  // namespace

bool CRestoreEngine::CanRun() {
  const bool ready = m_surfDamaged.bLoaded == 1 && Width() > 0 && Height() > 0 && m_bMaskBuilt &&
                     m_nMaskExtentW == Width() && m_nMaskExtentH == Height() &&
                     !m_gridChannel.IsNull() && m_gridChannel.Width() == Width() &&
                     m_gridChannel.Height() == Height();
  if (!ready) MessageBox("Load a damaged image and a mask first.", "not valid");
  return ready;
}

void CRestoreEngine::OnRun() {
  if (!CanRun()) return;
  UpdateData(true);
  RunGuard guard(*this);
  const int n = m_nTransportIter;
  const int per = m_nTransportPerDiffusion;
  // 64-bit so that the quotient of the most negative count by -1 cannot overflow.
  std::int64_t blocks = 0, rest = n;
  if (per != 0) {
    blocks = std::int64_t(n) / per;
    rest = std::int64_t(n) % per;
  }
  const float startTick = float(GetTickCount());
  for (std::int64_t b = 0; b < blocks; ++b) {
    TransportStep(per, m_nMaskCount);
    if (m_nDiffusionIter != 0)
      for (int c = 0; c < 3; ++c) DiffusionStep(m_nDiffusionIter, c);
  }
  TransportStep(int(rest), m_nMaskCount);
  if (m_nDiffusionIter != 0 && rest != 0)
    for (int c = 0; c < 3; ++c) DiffusionStep(m_nDiffusionIter, c);
  const std::uint32_t endTick = GetTickCount();
  m_nTotalIter = m_nTotalIter + std::uint32_t(m_nTransportIter);
  m_fSeconds = AddSeconds(endTick, startTick, m_fSeconds);
  MeasurePsnr();
  UpdateData(false);
  ShowResult(nullptr);
}

void CRestoreEngine::RunCycle() {
  TransportStep(kCycleTransport, m_nMaskCount);
  for (int c = 0; c < 3; ++c) DiffusionStep(kCycleDiffusion, c);
}

void CRestoreEngine::OnAuto() {
  if (!CanRun()) return;
  UpdateData(true);
  int counter = kCycleTransport;
  RunGuard guard(*this);
  const float startTick = float(GetTickCount());
  for (int i = 0; i < kOpeningCycles; ++i) RunCycle();
  MeasurePsnr();
  UpdateData(false);
  UpdateData(true);
  int cycle = kOpeningCycles;
  CycleMeasured(cycle, m_fPsnrResult);
  float gain = m_fPsnrResult - m_fPsnrDamaged;
  float reference = m_fPsnrDamaged;
  while (gain > m_fThreshold) {
    RunCycle();
    MeasurePsnr();
    gain = m_fPsnrResult - reference;
    reference = m_fPsnrResult;
    counter = counter + kCycleTransport;
    CycleMeasured(++cycle, m_fPsnrResult);
  }
  const std::uint32_t endTick = GetTickCount();
  m_nTotalIter = m_nTotalIter + std::uint32_t(counter);
  m_fSeconds = AddSeconds(endTick, startTick, m_fSeconds);
  UpdateData(false);
  ShowResult(nullptr);
}

void CRestoreEngine::ShowResult(HDC pane) {
  HDC surface = m_surfResult.hMemDC.get();
  const int W = m_surfDamaged.nWidth, H = m_surfDamaged.nHeight;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double* v = g_work[x][y];
      const auto byte = [](double d) { return BYTE(std::uint32_t(std::int32_t(d)) & 0xFFu); };
      SetPixelV(surface, x, y, RGB(byte(v[0]), byte(v[1]), byte(v[2])));
    }
  if (pane != nullptr)
    BitBlt(pane, 0, 0, m_surfResult.nWidth, m_surfResult.nHeight, surface, 0, 0, SRCCOPY);
  PaneChanged(IDC_PANE_RESULT);
}
