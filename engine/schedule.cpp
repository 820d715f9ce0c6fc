// Run schedule: OnRun runs m_nTransportIter transport iterations in blocks of
// m_nTransportPerDiffusion, each block (and a non-empty tail) followed by
// m_nDiffusionIter diffusion iterations on channels 0, 1, 2; OnAuto runs cycles
// of 15 transport and 2 diffusion iterations, five at first, then more while the
// PSNR gain exceeds m_fThreshold. Both add the elapsed seconds and the iteration
// count to the totals, measure the PSNR and show the work plane.
//
// Every transport block begins by reading the ten fields as they were last shown
// or set (ReadShownFields: their six-digit text form therefore shapes the numbers),
// at the points the run has always read them, and a run shows them where it always
// has (ShowFields). A run may be asked to stop between sweeps (between whole
// cycles in the automatic mode); it then ends as a shorter run would: totals,
// seconds, PSNR and result count what ran.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "engine/engine.h"
#include "engine/held_out_cycles.h"
#include "engine/membrane.h"

namespace {
constexpr int kCycleTransport = 15;
constexpr int kCycleDiffusion = 2;
constexpr int kOpeningCycles = 5;

}  // namespace

// Two where the processor has them: the sweeps of more threads than two give the same
// bits in every test, but have been exercised only on two cores, where they mostly fall
// back to one; more are for --threads to ask.
int DefaultKernelThreads() {
  return int(std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
}

std::size_t CRestoreEngine::Workers(std::size_t wanted) {
  while (m_workers.size() < wanted) {
    try {
      m_workers.push_back(std::make_unique<CWorkerThread>());
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: the ones there share the work
    }
  }
  return std::min(wanted, m_workers.size());
}

void CRestoreEngine::Split(std::size_t n,
                           const std::function<void(std::size_t, std::size_t)>& body) {
  const std::size_t wanted =
      std::min({std::size_t(std::max(m_kernels.threads, 1)), std::size_t(kMostThreads), n});
  if (wanted < 2 || n < m_kernels.parallelFrom) {
    body(0, n);
    return;
  }
  const std::size_t parts = 1 + Workers(wanted - 1);
  const auto begin = [n, parts](std::size_t i) { return n / parts * i + n % parts * i / parts; };
  for (std::size_t i = 1; i < parts; ++i)
    m_workers[i - 1]->Start([&body, &begin, i] { body(begin(i), begin(i + 1)); });
  body(0, begin(1));
  // A part whose thread has not begun it (its core is busy) runs here instead.
  for (std::size_t i = 1; i < parts; ++i)
    if (!m_workers[i - 1]->WaitOrWithdraw()) body(begin(i), begin(i + 1));
}

bool CRestoreEngine::CanRun() const {
  return HasDamaged() && HasMask() && m_gridChannel.Width() == Width() &&
         m_gridChannel.Height() == Height();
}

int CRestoreEngine::TransportBlock(int iterations, bool stoppable) {
  ReadShownFields();
  m_bStepStoppable = stoppable;
  m_nStepSweeps = std::max(iterations, 0);
  TransportStep(iterations, m_nMaskCount, double(m_fields.m_fDeltaT));
  m_bStepStoppable = false;
  return m_nStepSweeps;
}

bool CRestoreEngine::StopRequested() {
  if (m_pObserver && m_pObserver->StopRequested()) m_bStopped = true;
  return m_bStopped;
}

void CRestoreEngine::Report(const RunProgress& progress) {
  if (m_pObserver) m_pObserver->Progress(progress);
}

void CRestoreEngine::OnRun() {
  if (!CanRun()) return;
  m_bStopped = false;
  ReadShownFields();
  const int n = m_fields.m_nTransportIter;
  const int per = m_fields.m_nTransportPerDiffusion;
  const int diffusion = m_fields.m_nDiffusionIter;
  // 64-bit so that the quotient of the most negative count by -1 cannot overflow.
  std::int64_t blocks = 0, rest = n;
  if (per != 0) {
    blocks = std::int64_t(n) / per;
    rest = std::int64_t(n) % per;
  }
  RunProgress progress;
  progress.iterationsPlanned = n;
  std::int64_t done = 0;
  const std::uint64_t startTick = m_clock->GetTickCount64();
  // A block stopped between its sweeps skips its diffusion: the run ends there.
  for (std::int64_t b = 0; b < blocks; ++b) {
    if (StopRequested()) break;
    done += TransportBlock(per, true);
    if (m_bStopped) break;
    if (diffusion != 0) DiffusionSteps(diffusion);
    progress.iterationsDone = int(done);
    Report(progress);
  }
  if (!m_bStopped && !StopRequested()) {
    done += TransportBlock(int(rest), true);
    if (diffusion != 0 && rest != 0 && !m_bStopped) DiffusionSteps(diffusion);
  }
  const std::uint64_t endTick = m_clock->GetTickCount64();
  // A stopped run counts the iterations it ran; a whole one the field's count.
  m_fields.m_nTotalIter =
      m_fields.m_nTotalIter +
      std::uint32_t(m_bStopped ? std::int32_t(done) : m_fields.m_nTransportIter);
  m_fields.m_fSeconds = AddElapsedSeconds(m_fields.m_fSeconds, startTick, endTick);
  MeasurePsnr();
  ShowFields();
  if (!m_bStopped) {
    progress.iterationsDone = int(done);
    Report(progress);
  }
}

bool CRestoreEngine::StartFromMembraneFill() {
  if (MembraneFill(&g_work, g_mask).status != MembraneStatus::kOk) return false;
  m_bStartedFromFill = true;
  return true;
}

std::uint64_t CRestoreEngine::HeldOutBytes() const {
  const std::uint64_t pixels = std::uint64_t(Width()) * std::uint64_t(Height());
  const std::uint64_t rounds = std::uint64_t(CHeldOutCycles::CopyOptions().rounds) + 2;  // edge rounds too
  const std::uint64_t one = BytesNeeded(pixels, 2 * std::uint64_t(m_nMaskCount)) + pixels * 6;
  return one > ~std::uint64_t(0) / rounds ? ~std::uint64_t(0) : one * rounds;
}

double CRestoreEngine::EstimateRunPsnr() {
  CHeldOutCycles copies;
  if (copies.Build(g_damaged, g_mask, *this).status == FillStatus::kOutOfMemory)
    throw std::bad_alloc();
  return copies.EstimateRun();
}

void CRestoreEngine::RunCycle() {
  // Cycles run whole: the automatic mode counts its iterations by cycles.
  TransportBlock(kCycleTransport, false);
  DiffusionSteps(kCycleDiffusion);
}

void CRestoreEngine::OnAuto() {
  if (!CanRun()) return;
  m_bStopped = false;
  m_bUnsettled = false;
  ReadShownFields();
  int counter = kCycleTransport;
  RunProgress progress;
  progress.automatic = true;
  progress.settling = !HasOriginal();
  const std::uint64_t startTick = m_clock->GetTickCount64();
  m_dLastHeldOutPsnr = std::numeric_limits<double>::quiet_NaN();
  m_lastAutoRule = HasOriginal() ? AutoRule::kPsnr : AutoRule::kSettle;
  CHeldOutCycles copies;
  if (!HasOriginal() && m_autoRuleWithoutOriginal == AutoRule::kHeldOut) {
    // Copies that cannot be had leave the settle rule to end the mode.
    copies.Build(g_damaged, g_mask, *this);
    if (!copies.Empty()) m_lastAutoRule = AutoRule::kHeldOut;
  }
  if (m_lastAutoRule == AutoRule::kHeldOut) {
    progress.settling = false;
    progress.heldOut = true;
    AutoByHeldOut(&progress, &counter, copies);
  } else if (progress.settling) {
    AutoBySettling(&progress, &counter);
  } else {
    AutoByPsnr(&progress, &counter);
  }
  const std::uint64_t endTick = m_clock->GetTickCount64();
  m_nLastCycles = progress.cycle;
  m_fields.m_nTotalIter = m_fields.m_nTotalIter + std::uint32_t(counter);
  m_fields.m_fSeconds = AddElapsedSeconds(m_fields.m_fSeconds, startTick, endTick);
  if (!HasOriginal()) MeasurePsnr();  // as a run shows it, once, at the end
  ShowFields();
}

void CRestoreEngine::AutoByPsnr(RunProgress* progress, int* counter) {
  int cycle = 0;
  while (cycle < kOpeningCycles && !StopRequested()) {
    RunCycle();
    ++cycle;
    progress->cycle = cycle;
    progress->iterationsDone = progress->iterationsPlanned = cycle * kCycleTransport;
    if (cycle < kOpeningCycles) Report(*progress);
  }
  MeasurePsnr();
  ShowFields();
  ReadShownFields();
  progress->measured = true;
  progress->psnr = m_fields.m_fPsnrResult;
  Report(*progress);
  if (m_bStopped) return;
  float gain = m_fields.m_fPsnrResult - m_fields.m_fPsnrDamaged;
  float reference = m_fields.m_fPsnrDamaged;
  while (gain > m_fields.m_fThreshold && !StopRequested()) {
    RunCycle();
    MeasurePsnr();
    gain = m_fields.m_fPsnrResult - reference;
    reference = m_fields.m_fPsnrResult;
    *counter = *counter + kCycleTransport;
    ++cycle;
    progress->cycle = cycle;
    progress->iterationsDone = progress->iterationsPlanned = cycle * kCycleTransport;
    progress->psnr = m_fields.m_fPsnrResult;
    Report(*progress);
  }
}

// The PSNR rule's loop with the held-out PSNR in the place of the PSNR against an
// original: five opening cycles, then further cycles while the held-out PSNR rises by
// more than the threshold over the last cycle (over the opening ones: above the
// copies' PSNR as they start, with the damage copied into them), or while the result
// has not settled (m_dSettleLevel, as the settle rule). The copies of a hole too large
// to move lie over its rim, which fills long before its middle: there the held-out
// PSNR stops rising while the middle is still being filled, and the result still
// changing keeps the mode going.
void CRestoreEngine::AutoByHeldOut(RunProgress* progress, int* counter, CHeldOutCycles& copies) {
  const double start = copies.Psnr();
  const double threshold = double(m_fields.m_fThreshold);
  int cycle = 0;
  while (cycle < kOpeningCycles && !StopRequested()) {
    RunCycle();
    copies.RunCycle();
    ++cycle;
    progress->cycle = cycle;
    progress->iterationsDone = progress->iterationsPlanned = cycle * kCycleTransport;
    if (cycle < kOpeningCycles) Report(*progress);
  }
  double psnr = copies.Psnr();
  m_dLastHeldOutPsnr = psnr;
  progress->measured = true;
  progress->psnr = float(psnr);
  Report(*progress);
  if (m_bStopped) return;
  double gain = psnr - start;
  double change = std::numeric_limits<double>::infinity();
  std::vector<double> before;
  while ((gain > threshold || change > m_dSettleLevel) && !StopRequested()) {
    if (cycle >= kMaxSettleCycles) {
      m_bUnsettled = true;
      break;
    }
    SaveMaskedValues(&before);
    RunCycle();
    change = MeanChange(before);
    progress->meanChange = change;
    copies.RunCycle();
    const double before = psnr;
    psnr = copies.Psnr();
    gain = psnr - before;
    m_dLastHeldOutPsnr = psnr;
    *counter = *counter + kCycleTransport;
    ++cycle;
    progress->cycle = cycle;
    progress->iterationsDone = progress->iterationsPlanned = cycle * kCycleTransport;
    progress->psnr = float(psnr);
    Report(*progress);
  }
}

void CRestoreEngine::AutoBySettling(RunProgress* progress, int* counter) {
  std::vector<double> before;
  int cycle = 0;
  m_bUnsettled = false;
  while (!StopRequested()) {
    if (cycle >= kMaxSettleCycles) {
      m_bUnsettled = true;
      break;
    }
    const bool opening = cycle < kOpeningCycles;
    if (cycle == kOpeningCycles - 1 || !opening) SaveMaskedValues(&before);
    RunCycle();
    ++cycle;
    if (!opening) *counter = *counter + kCycleTransport;
    progress->cycle = cycle;
    progress->iterationsDone = progress->iterationsPlanned = cycle * kCycleTransport;
    progress->measured = cycle >= kOpeningCycles;
    if (progress->measured) progress->meanChange = MeanChange(before);
    Report(*progress);
    if (progress->measured && !(progress->meanChange > m_dSettleLevel)) break;
  }
}

void CRestoreEngine::SaveMaskedValues(std::vector<double>* values) const {
  values->resize(std::size_t(m_nMaskCount) * 3);
  for (int k = 0; k < m_nMaskCount; ++k) {
    const double* v = g_work.At(m_pMaskList[k].x, m_pMaskList[k].y);
    for (int c = 0; c < 3; ++c) (*values)[std::size_t(k) * 3 + c] = v[c];
  }
}

double CRestoreEngine::MeanChange(const std::vector<double>& before) const {
  if (m_nMaskCount == 0) return 0.0;
  double sum = 0.0;
  for (int k = 0; k < m_nMaskCount; ++k) {
    const double* v = g_work.At(m_pMaskList[k].x, m_pMaskList[k].y);
    for (int c = 0; c < 3; ++c) sum += std::fabs(v[c] - before[std::size_t(k) * 3 + c]);
  }
  return sum / (3.0 * double(m_nMaskCount));
}

void CRestoreEngine::ResultPixels(std::uint8_t* rgb, std::size_t stride) const {
  const int W = Width(), H = Height();
  for (int y = 0; y < H; ++y) {
    const double* v = g_work.At(0, y);
    std::uint8_t* out = rgb + std::size_t(y) * stride;
    for (int i = 0; i < W * 3; ++i)
      out[i] = std::uint8_t(std::uint32_t(std::int32_t(v[i])) & 0xFFu);
  }
}
