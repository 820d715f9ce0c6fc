// The membrane fill run by the engine, with the bookkeeping of a run: the run
// buttons disabled while it works, the totals and the PSNR updated, the result
// shown. The fill itself cannot be interrupted; it takes well under a second on
// the largest hole the solver meets in practice.
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "engine/membrane.h"

namespace {
std::string Refusal(MembraneStatus status) {
  switch (status) {
    case MembraneStatus::kOk:
      return std::string();
    case MembraneStatus::kSizeMismatch:
      return "The membrane fill needs a mask of the damaged image's size.";
    case MembraneStatus::kBadArgument:
      return "The membrane fill was given a bad argument.";
    case MembraneStatus::kTooLarge:
      return "The hole is too large for the membrane fill.";
    case MembraneStatus::kOutOfMemory:
      return "Not enough memory for the membrane fill.";
  }
  return "The membrane fill failed.";
}
}  // namespace

std::optional<MembraneReport> RunMembrane(CRestoreEngine& engine) {
  if (!engine.CanRun()) return std::nullopt;
  CEngineServices& services = engine.Services();
  engine.UpdateData(true);
  services.EnableItem(IDC_BTN_RUN, false);
  services.EnableItem(IDC_BTN_AUTO, false);
  const std::uint32_t startTick = services.GetTickCount();
  const MembraneReport report = MembraneFill(&engine.g_work, engine.g_mask);
  const std::uint32_t endTick = services.GetTickCount();
  services.EnableItem(IDC_BTN_RUN, true);
  services.EnableItem(IDC_BTN_AUTO, true);
  if (report.status != MembraneStatus::kOk) {
    services.MessageBox(Refusal(report.status), "error");
    return report;
  }
  CDialogFields& f = engine.m_fields;
  f.m_nTotalIter = f.m_nTotalIter + std::uint32_t(report.iterations);
  // The tick count wraps at 2^32 ms; the difference of two ticks taken in that
  // order is right across the wrap when computed modulo 2^32.
  const std::uint32_t elapsed = endTick - startTick;
  f.m_fSeconds = float(double(elapsed) * 0.001 + double(f.m_fSeconds));
  engine.MeasurePsnr();
  engine.UpdateData(false);
  services.ShowResult();
  return report;
}
