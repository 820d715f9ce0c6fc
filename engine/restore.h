// One restoration run as the window, the command line and the library ask for it:
// typed settings in, a typed outcome out. The settings the ten fields carry go into
// the shown fields exactly as typed (ApplySettings), so a run reads them as it
// would read the texts of its edits; everything else a run needs is set on the
// engine before it starts. A run that cannot start, or a fill that refuses, is an
// outcome with its message, never a box.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/fill_run.h"

// The transport scheme, or one of the fills beside it (in FillMethod's order).
enum class RunMethod { kTransport, kMembrane, kBiharmonic, kTension, kTexture, kAuto };
// "transport", or the fill's name.
const char* RunMethodName(RunMethod method);
// False (method unchanged) for a text that names no method.
bool ParseRunMethod(const std::string& name, RunMethod* method);
// The fill of a method other than kTransport.
FillMethod FillOf(RunMethod method);

struct RunSettings {
  RunMethod method = RunMethod::kTransport;
  bool automatic = false;  // the transport scheme's automatic mode (cycles until a rule ends it)
  // The five settings of the ten fields, as typed.
  std::int32_t transportIterations = 100;
  std::int32_t diffusionIterations = 2;
  std::int32_t transportPerDiffusion = 15;
  float deltaT = 0.01f;
  float threshold = 0.0f;
  // The automatic mode without an original: its rule, and the settle level.
  AutoRule ruleWithoutOriginal = AutoRule::kSettle;
  double settleLevel = kDefaultSettleLevel;
  double tension = 0.5;        // kTension: finite, >= 0
  bool startFromFill = false;  // the transport scheme starts from the membrane fill
  bool estimate = false;       // a fill also estimates its hole PSNR (kAuto always does)
  int threads = 0;             // threads the engine may use; 0 keeps the engine's
};

// The settings' five fields into the engine's shown fields (the others kept), and
// its settle level, rule and threads from them.
void ApplySettings(CRestoreEngine& engine, const RunSettings& settings);
// The other way: the five settings from fields (a dialog's, as its edits read).
void TakeFieldSettings(const CDialogFields& fields, RunSettings* settings);

// Why a run ended.
enum class RunEnd {
  kNotRun,       // no damaged image and mask to run on
  kRefused,      // a fill refused its picture (nothing changed)
  kDone,         // a plain run, or a fill, ran whole
  kStopped,      // a stop was asked for; the result so far stands
  kPsnrRule,     // automatic: the PSNR gain against the original fell to the threshold
  kSettled,      // automatic without an original: the result settled
  kHeldOutRule,  // ... the held-out PSNR no longer rose and the result had settled
  kAtCap,        // ... kMaxSettleCycles cycles ran first
};

struct RunOutcome {
  RunEnd end = RunEnd::kNotRun;
  // kNotRun and kRefused: the message to show, and its caption ("not valid", "error").
  std::string message;
  std::string caption;
  bool outOfMemory = false;  // kRefused for want of memory
  bool automatic = false;
  AutoRule rule = AutoRule::kPsnr;  // the rule the automatic mode ran by
  int cycles = 0;                   // the automatic mode's cycles
  // The held-out rule's last held-out PSNR, or a fill's estimate; NaN for none.
  double estimatedPsnr;
  std::optional<FillRun> fill;  // a fill's own report
  CDialogFields fields;         // the fields after the run, as computed (not yet shown)
  bool Ran() const { return end != RunEnd::kNotRun && end != RunEnd::kRefused; }
  RunOutcome();
};

// Applies the settings and runs. A transport run that runs out of memory throws
// std::bad_alloc (the work plane may then hold part of the run: a caller keeps
// what it must restore); a fill works on a copy and refuses instead. A plain
// transport run's estimate is the caller's to ask for (EstimateRunPsnr) once it
// has kept the result.
RunOutcome Restore(CRestoreEngine& engine, const RunSettings& settings);
