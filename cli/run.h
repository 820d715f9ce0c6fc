// One restoration as the command line runs it, alone or as a row of a batch: the
// request (files, and the run's settings as the texts given on the command line or
// in the manifest, quoted back in messages), the checks of its values and of their
// combination, and the run itself in a session of its own, with what it produced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/fill_run.h"
#include "engine/membrane.h"
#include "engine/metrics.h"
#include "engine/restore.h"
#include "session/run_memory.h"

struct RunRequest {
  std::string damaged;
  std::string mask;
  std::string original;  // "" for none
  // The settings' texts as given (checked before a run; SettingsOf reads them).
  std::string iterations = "100";
  std::string diffusion = "2";
  std::string perDiffusion = "15";
  std::string deltaT = "0.01";
  std::string threshold = "0";
  bool automatic = false;
  std::optional<double> settle;  // the settle level; the engine's default when not given
  RunMethod method = RunMethod::kTransport;
  std::optional<double> tension;  // --method tension's; its default when not given
  bool initFill = false;  // the transport scheme starts from the membrane fill
  bool metrics = false;  // the quality measures are asked for (they need an original)
  std::string output;    // where to write the result; "" for nowhere
  bool overwrite = false;
  int threads = 0;     // threads the engine may use; 0 for its default
  bool force = false;  // run with a time step outside (0, 1]
};

// The run's settings from the request's checked texts.
RunSettings SettingsOf(const RunRequest& request);

// Checks of one option text; each returns "" when the text is fine, else why not
// ("must be a whole number from 0 to 2147483647, not 'x'").
std::string CheckCount(const std::string& text);
std::string CheckFinite(const std::string& text);
std::string CheckThreshold(const std::string& text);
std::string CheckSettle(const std::string& text);
std::string CheckMethod(const std::string& text);
std::string CheckTension(const std::string& text);
std::string CheckInit(const std::string& text);
// Texts known to be valid.
double SettleValue(const std::string& text);
RunMethod MethodValue(const std::string& text);

// The run options a batch manifest may set, by their long names without dashes.
constexpr const char* kRunOptionNames[] = {"iterations", "diffusion", "per-diffusion",
                                           "delta-t",    "auto",      "threshold",
                                           "settle",     "method",    "tension",
                                           "init"};
bool IsRunOption(const std::string& name);
// Sets the run option `name` from `text`; "" when set, else why the text is refused
// (the request unchanged). `auto` takes 1/0, true/false, yes/no in any case.
std::string SetRunOption(RunRequest* request, const std::string& name, const std::string& text);

// The first combination of options a run refuses, as a message; "" when there is
// none. `row` phrases it for a manifest row (columns) instead of the command line.
std::string CheckCombination(const RunRequest& request, bool row);

// What a run reports while it works.
class RunHooks {
 public:
  virtual ~RunHooks() = default;
  // Just before the run (the pictures are loaded).
  virtual void Starting() {}
  virtual void Progress(const RunProgress& /*progress*/) {}
  // Asked between sweeps and cycles.
  virtual bool StopRequested() { return false; }
  // The run will hold about `bytes` from now on (it held less before): "" when
  // it may, else why not, naming what can be had ("the machine can give 2.1 GB").
  // This one weighs the bytes against what the machine can give now.
  virtual std::string Reserve(std::uint64_t bytes);
};

struct RunFailure {
  std::string caption;  // the message box's caption ("" for the application's title)
  std::string text;     // the message, possibly with a second line for the reason
  // "caption: text" as standard error shows it.
  std::string Printed() const;
  // The text on one line.
  std::string OneLine() const;
};

struct RunResult {
  bool ok = false;
  RunFailure failure;    // when not ok: a file refused or not written, a run refused
  CDialogFields fields;  // the fields after the run, as shown
  bool automatic = false;
  bool settled = false;  // the automatic mode stopped by the settle rule (no original)
  AutoRule rule = AutoRule::kPsnr;  // the rule the automatic mode ended by
  bool atCap = false;  // ... at its cycle cap (kMaxSettleCycles) rather than by the rule
  RunMethod method = RunMethod::kTransport;
  bool stopped = false;                   // the run ended early on a stop request
  std::optional<QualityMetrics> quality;  // with an original: the result as saved, measured
  std::optional<MembraneReport> membrane;
  std::optional<FillRun> fill;  // a fill other than the transport scheme
  // The hole PSNR estimated from held-out copies of the mask (NaN: not estimated).
  double estimatedPsnr;
  RunResult();
  // When ok: an optional part (the quality measures) that failed after the result
  // was written, as a message; "" when none did.
  std::string incomplete;
};

// Loads the pictures, runs with the request's settings, measures and writes
// the result when asked. The request's texts must have passed the checks above.
// `measure` asks for the quality measures even without request.metrics (they are
// taken only with an original), and for the fills' estimate of their quality.
RunResult ExecuteRun(const RunRequest& request, RunHooks& hooks, bool measure);
