// The membrane fill as the window's first fill beside the transport scheme ran it:
// RunFill, its refusal a report (MembraneRefusalText says it). The fill itself cannot be
// interrupted; it takes well under a second on the largest hole the solver meets.
#include <string>

#include "engine/engine.h"
#include "engine/fill_run.h"
#include "engine/membrane.h"

const char* MembraneRefusalText(MembraneStatus status) {
  switch (status) {
    case MembraneStatus::kOk:
      return "";
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

FillOutcome MembraneOutcome(MembraneStatus status) {
  switch (status) {
    case MembraneStatus::kOk:
      return {};
    case MembraneStatus::kOutOfMemory:
      return {FillStatus::kOutOfMemory, "not enough memory for the membrane fill"};
    case MembraneStatus::kTooLarge:
      return {FillStatus::kTooLarge, "too many masked pixels for the membrane fill"};
    case MembraneStatus::kSizeMismatch:
      return {FillStatus::kSizeMismatch, "the mask is not the size of the picture"};
    case MembraneStatus::kBadArgument:
      break;
  }
  return {FillStatus::kBadArgument, "the membrane fill refused its arguments"};
}

std::optional<MembraneReport> RunMembrane(CRestoreEngine& engine) {
  FillSettings settings;
  settings.method = FillMethod::kMembrane;
  const FillRun run = RunFill(engine, settings);
  if (!run.ran) return std::nullopt;
  if (run.outcome.ok()) return run.membrane;
  MembraneReport report = run.membrane.value_or(MembraneReport{});
  if (report.status == MembraneStatus::kOk) report.status = MembraneStatus::kOutOfMemory;
  return report;
}
