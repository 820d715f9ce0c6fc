#include "engine/restore.h"

#include <limits>
#include <new>

#include "engine/membrane.h"

const char* RunMethodName(RunMethod method) {
  return method == RunMethod::kTransport ? "transport" : FillMethodName(FillOf(method));
}

bool ParseRunMethod(const std::string& name, RunMethod* method) {
  FillMethod fill;
  if (name == "transport") {
    *method = RunMethod::kTransport;
  } else if (ParseFillMethod(name, &fill)) {
    *method = RunMethod(int(fill) + int(RunMethod::kMembrane));
  } else {
    return false;
  }
  return true;
}

FillMethod FillOf(RunMethod method) {
  return method == RunMethod::kTransport ? FillMethod::kMembrane
                                         : FillMethod(int(method) - int(RunMethod::kMembrane));
}

RunOutcome::RunOutcome() : estimatedPsnr(std::numeric_limits<double>::quiet_NaN()) {}

void ApplySettings(CRestoreEngine& engine, const RunSettings& settings) {
  CDialogFields typed = engine.ShownFields();
  typed.m_nTransportIter = settings.transportIterations;
  typed.m_nDiffusionIter = settings.diffusionIterations;
  typed.m_nTransportPerDiffusion = settings.transportPerDiffusion;
  typed.m_fDeltaT = settings.deltaT;
  typed.m_fThreshold = settings.threshold;
  engine.SetShownFields(typed);
  engine.SetAutoRule(settings.ruleWithoutOriginal, settings.settleLevel);
  if (settings.threads > 0) engine.SetThreads(settings.threads);
}

void TakeFieldSettings(const CDialogFields& fields, RunSettings* settings) {
  settings->transportIterations = fields.m_nTransportIter;
  settings->diffusionIterations = fields.m_nDiffusionIter;
  settings->transportPerDiffusion = fields.m_nTransportPerDiffusion;
  settings->deltaT = fields.m_fDeltaT;
  settings->threshold = fields.m_fThreshold;
}

namespace {
RunOutcome NotRun() {
  RunOutcome o;
  o.message = CRestoreEngine::kNotLoadedText;
  o.caption = "not valid";
  return o;
}

RunOutcome RunFillMethod(CRestoreEngine& engine, const RunSettings& settings) {
  FillSettings fill;
  fill.method = FillOf(settings.method);
  fill.tension = settings.tension;
  fill.threads = engine.Threads();
  fill.estimate = settings.estimate;
  RunOutcome o;
  o.fill = RunFill(engine, fill);
  o.estimatedPsnr = o.fill->estimatedPsnr;
  if (!o.fill->outcome.ok()) {
    o.end = RunEnd::kRefused;
    o.outOfMemory = o.fill->outcome.status == FillStatus::kOutOfMemory;
    const std::optional<MembraneReport>& m = o.fill->membrane;
    o.message = m && m->status != MembraneStatus::kOk
                    ? std::string(MembraneRefusalText(m->status))
                    : "The " + std::string(FillMethodName(fill.method)) + " fill refused: " +
                          (o.fill->outcome.reason.empty() ? FillStatusName(o.fill->outcome.status)
                                                          : o.fill->outcome.reason) +
                          ".";
    o.caption = "error";
  } else {
    o.end = RunEnd::kDone;
  }
  o.fields = engine.m_fields;
  return o;
}
}  // namespace

RunOutcome Restore(CRestoreEngine& engine, const RunSettings& settings) {
  if (!engine.CanRun()) return NotRun();
  ApplySettings(engine, settings);
  if (settings.method != RunMethod::kTransport) return RunFillMethod(engine, settings);
  if (settings.startFromFill && !engine.StartFromMembraneFill()) throw std::bad_alloc();
  RunOutcome o;
  o.automatic = settings.automatic;
  if (!settings.automatic) {
    engine.OnRun();
    o.end = engine.LastRunStopped() ? RunEnd::kStopped : RunEnd::kDone;
  } else {
    engine.OnAuto();
    o.rule = engine.LastAutoRule();
    o.cycles = engine.LastCycles();
    if (o.rule == AutoRule::kHeldOut) o.estimatedPsnr = engine.LastHeldOutPsnr();
    o.end = engine.LastRunStopped()     ? RunEnd::kStopped
            : engine.LastRunUnsettled() ? RunEnd::kAtCap
            : o.rule == AutoRule::kPsnr ? RunEnd::kPsnrRule
            : o.rule == AutoRule::kSettle ? RunEnd::kSettled
                                          : RunEnd::kHeldOutRule;
  }
  o.fields = engine.m_fields;
  return o;
}
