// A single restoration in a headless session of its own, so that runs on several
// threads share nothing. It starts like the window (the fields at their defaults),
// loads the damaged image, the mask and the original, runs with the request's
// settings (read from its texts as the window reads its edits) and, when asked,
// saves the result.
#include "cli/run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "engine/fields.h"
#include "session/headless_session.h"
#include "session/run_memory.h"
#include "session/system_memory.h"

namespace {

// The session of one run: the engine's progress and stop questions go to the hooks.
class CRunSession : public CHeadlessSession, public CRunObserver {
 public:
  explicit CRunSession(RunHooks& hooks) : m_hooks(hooks) {
    engine.SetObserver(this);
    files.SetPanePictures(false);  // nothing is shown: the result's picture is all a save needs
  }
  void Progress(const RunProgress& progress) override { m_hooks.Progress(progress); }
  bool StopRequested() override { return m_hooks.StopRequested(); }

 private:
  RunHooks& m_hooks;
};

RunResult Failed(const FileResult& r) {
  RunResult o;
  o.failure = {r.caption, r.Text()};
  return o;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The result as it is shown and saved (whole bytes), as a plane to measure.
BytePlane ResultPlane(const CRestoreEngine& engine) {
  BytePlane plane;
  if (!plane.Resize(engine.Width(), engine.Height())) throw std::bad_alloc();
  engine.ResultPixels(plane.Data(), plane.RowStride());
  return plane;
}

std::string SizeText(const ImageHeader& h) {
  return std::to_string(h.width) + " x " + std::to_string(h.height);
}

// An allocation that failed, or a reservation refused (`why` the figures).
RunResult NoMemory(const ImageHeader& picture, std::uint64_t bytes, const std::string& why) {
  RunResult o;
  o.failure.text = "not enough memory to restore a " + SizeText(picture) + " picture (needs about " +
                   MemoryText(bytes) + (why.empty() ? "" : "; " + why) + ")";
  return o;
}

std::uint64_t Pixels(const ImageHeader& h) { return std::uint64_t(h.width) * std::uint64_t(h.height); }

std::uint64_t MaskedPixels(const RgbImage& mask) {
  std::uint64_t n = 0;
  for (std::size_t i = 0; i + 2 < mask.rgb.size(); i += 3)
    n += (mask.rgb[i] | mask.rgb[i + 1] | mask.rgb[i + 2]) != 0;
  return n;
}

constexpr std::uint64_t kSaturated = ~std::uint64_t(0);
std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > kSaturated - b ? kSaturated : a + b; }

}  // namespace

RunResult::RunResult() : estimatedPsnr(std::numeric_limits<double>::quiet_NaN()) {}

std::string CheckCount(const std::string& text) {
  std::int32_t v = 0;
  if (!ParseIntField(text, &v) || v < 0)
    return "must be a whole number from 0 to " + std::to_string(INT32_MAX) + ", not '" + text + "'";
  return std::string();
}

std::string CheckFinite(const std::string& text) {
  float v = 0;
  if (!ParseFloatField(text, &v) || !std::isfinite(v))
    return "must be a finite number, not '" + text + "'";
  return std::string();
}

std::string CheckThreshold(const std::string& text) {
  std::string why = CheckFinite(text);
  if (!why.empty()) return why;
  float v = 0;
  ParseFloatField(text, &v);
  return v < 0 ? "must not be negative (got '" + text + "')" : std::string();
}

std::string CheckSettle(const std::string& text) {
  // Whole text a decimal number, blanks around it allowed (as the fields read them).
  // (strtod's overflow is an infinity, which the finiteness test refuses.)
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (end == begin || *end != '\0' || !std::isfinite(v))
    return "must be a finite number, not '" + text + "'";
  if (v < 0) return "must not be negative (got '" + text + "')";
  return std::string();
}

double SettleValue(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string CheckMethod(const std::string& text) {
  RunMethod method;
  if (ParseRunMethod(text, &method)) return std::string();
  return "must be transport, membrane, biharmonic, tension, texture or auto, not '" + text + "'";
}

RunMethod MethodValue(const std::string& text) {
  RunMethod method = RunMethod::kTransport;
  ParseRunMethod(text, &method);
  return method;
}

RunSettings SettingsOf(const RunRequest& r) {
  RunSettings s;
  s.method = r.method;
  s.automatic = r.automatic && r.method == RunMethod::kTransport;
  ParseIntField(r.iterations, &s.transportIterations);
  ParseIntField(r.diffusion, &s.diffusionIterations);
  ParseIntField(r.perDiffusion, &s.transportPerDiffusion);
  ParseFloatField(r.deltaT, &s.deltaT);
  ParseFloatField(r.threshold, &s.threshold);
  if (r.settle) s.settleLevel = *r.settle;
  // Without an original the automatic mode checks itself on held-out known pixels,
  // unless a settle level asks for the settle rule.
  s.ruleWithoutOriginal = r.settle ? AutoRule::kSettle : AutoRule::kHeldOut;
  if (r.tension) s.tension = *r.tension;
  s.startFromFill = r.initFill;
  s.threads = r.threads;
  return s;
}

std::string CheckInit(const std::string& text) {
  if (text == "damaged" || text == "fill") return std::string();
  return "must be damaged or fill, not '" + text + "'";
}

// A finite decimal number >= 0, read in double, as the settle level is.
std::string CheckTension(const std::string& text) { return CheckSettle(text); }

bool IsRunOption(const std::string& name) {
  for (const char* n : kRunOptionNames)
    if (name == n) return true;
  return false;
}

std::string SetRunOption(RunRequest* r, const std::string& name, const std::string& text) {
  std::string why;
  const auto set = [&](std::string (*check)(const std::string&), std::string* field) {
    why = check(text);
    if (why.empty()) *field = text;
    return why;
  };
  if (name == "iterations") return set(CheckCount, &r->iterations);
  if (name == "diffusion") return set(CheckCount, &r->diffusion);
  if (name == "per-diffusion") return set(CheckCount, &r->perDiffusion);
  if (name == "delta-t") return set(CheckFinite, &r->deltaT);
  if (name == "threshold") return set(CheckThreshold, &r->threshold);
  if (name == "settle") {
    why = CheckSettle(text);
    if (why.empty()) r->settle = SettleValue(text);
    return why;
  }
  if (name == "init") {
    why = CheckInit(text);
    if (why.empty()) r->initFill = text == "fill";
    return why;
  }
  if (name == "tension") {
    why = CheckTension(text);
    if (why.empty()) r->tension = SettleValue(text);
    return why;
  }
  if (name == "method") {
    why = CheckMethod(text);
    if (why.empty()) r->method = MethodValue(text);
    return why;
  }
  if (name == "auto") {
    const std::string v = Lower(text);
    if (v == "1" || v == "true" || v == "yes") {
      r->automatic = true;
    } else if (v == "0" || v == "false" || v == "no") {
      r->automatic = false;
    } else {
      return "must be 1, 0, true, false, yes or no, not '" + text + "'";
    }
    return std::string();
  }
  return "is not a run option";
}

std::string CheckCombination(const RunRequest& r, bool row) {
  const bool original = !r.original.empty();
  float dt = 0;
  if (!r.force && ParseFloatField(r.deltaT, &dt) && !(dt > 0.0f && dt <= 1.0f))
    return std::string(row ? "delta-t " : "--delta-t ") + r.deltaT +
           (dt <= 0.0f ? " moves every value away from the fill"
                       : " is beyond a stable time step and overshoots") +
           ": a time step must lie above 0 and at most 1 (" +
           (row ? "--force runs the batch with it anyway)" : "--force runs with it anyway)");
  if (r.metrics && !original)
    return row ? "--metrics needs an original, and the original cell is empty"
               : "--metrics needs --original";
  if (r.automatic && r.method != RunMethod::kTransport)
    return std::string(row ? "auto applies only to the transport method: the "
                           : "--auto applies only to --method transport: the ") +
           RunMethodName(r.method) + " fill is solved in one go";
  if (r.initFill && r.method != RunMethod::kTransport)
    return std::string(row ? "init applies only to the transport method: the "
                           : "--init applies only to --method transport: the ") +
           RunMethodName(r.method) + " fill never reads the values under the mask";
  if (r.tension && r.method != RunMethod::kTension)
    return row ? "tension applies only to the tension method (method is " +
                     std::string(RunMethodName(r.method)) + ")"
               : "--tension applies only to --method tension";
  if (r.settle && !r.automatic)
    return row ? "settle applies only to the automatic mode (auto is off)"
               : "--settle applies only to the automatic mode (--auto)";
  if (r.settle && original)
    return row ? "settle applies only without an original: with one the automatic mode stops "
                 "by the PSNR rule (see threshold)"
               : "--settle applies only without --original: with an original the automatic "
                 "mode stops by the PSNR rule (see --threshold)";
  return std::string();
}

std::string RunFailure::Printed() const {
  return (caption.empty() ? std::string(kAppTitle) : caption) + ": " + text;
}

std::string RunFailure::OneLine() const {
  std::string s = text;
  for (std::size_t at = s.find('\n'); at != std::string::npos; at = s.find('\n', at))
    s.replace(at, 1, ": ");
  return s;
}

std::string RunHooks::Reserve(std::uint64_t bytes) {
  const std::optional<std::uint64_t> room = ReadMemoryFigures().Room();
  if (!room || bytes <= *room) return std::string();
  return "the machine can give " + MemoryText(*room);
}

RunResult ExecuteRun(const RunRequest& request, RunHooks& hooks, bool measure) {
  CRunSession session(hooks);
  CImageFiles& files = session.files;
  CRestoreEngine& engine = session.engine;
  // Sizes from the headers first: a mismatch is refused before any pixel is decoded.
  PictureHeaders headers;
  FileResult r = ReadPictureHeaders(request.damaged, request.mask, request.original, &headers);
  if (!r.ok) return Failed(r);
  const ImageHeader& picture = headers.damaged;
  const bool hasOriginal = !request.original.empty();
  const bool measured = hasOriginal && (measure || request.metrics);
  // The mask is decoded first: its masked pixels size the run.
  std::uint64_t need = LoadBytes(headers.mask);
  std::string why = hooks.Reserve(need);
  if (!why.empty()) return NoMemory(picture, need, why);
  RgbImage mask;
  try {
    r = CImageFiles::ReadPicture(request.mask, &mask);
    if (!r.ok) return Failed(r);
    need = RunBytes(picture, hasOriginal ? &headers.original : nullptr, MaskedPixels(mask),
                    measured, !request.output.empty());
    why = hooks.Reserve(need);
    if (!why.empty()) return NoMemory(picture, need, why);
    r = files.LoadDamaged(request.damaged);
    if (r.ok) r = files.LoadMaskImage(mask);
    mask = RgbImage();
    if (r.ok && hasOriginal) r = files.LoadOriginal(request.original);
    if (!r.ok) return Failed(r);
  } catch (const std::bad_alloc&) {
    return NoMemory(picture, need, std::string());
  }

  RunSettings settings = SettingsOf(request);
  // The held-out copies (of the automatic mode without an original, or of the
  // estimate of a run) hold an engine each: without room for them the settle rule
  // ends the mode and a run goes without its estimate.
  const bool estimateRun = (measure || request.metrics) && request.method == RunMethod::kTransport &&
                           !request.automatic;
  const bool heldOutAuto = settings.automatic && !engine.HasOriginal() &&
                           settings.ruleWithoutOriginal == AutoRule::kHeldOut;
  bool heldOutRoom = true;
  if (estimateRun || heldOutAuto) {
    const std::uint64_t copies = engine.HeldOutBytes();
    heldOutRoom = copies <= kSaturated - need && hooks.Reserve(need + copies).empty();
    if (heldOutRoom) {
      need += copies;
    } else if (heldOutAuto) {
      settings.ruleWithoutOriginal = AutoRule::kSettle;
    }
  }
  settings.estimate = measure || request.metrics;

  RunResult o;
  o.method = request.method;
  o.automatic = settings.automatic;
  hooks.Starting();
  RunOutcome run;
  try {
    run = Restore(engine, settings);
    if (run.Ran()) files.ShowResult();
  } catch (const std::bad_alloc&) {
    return NoMemory(picture, need, std::string());
  }
  o.fill = run.fill;
  if (run.fill) o.membrane = run.fill->membrane;
  o.estimatedPsnr = run.estimatedPsnr;
  if (run.end == RunEnd::kRefused && run.outOfMemory) return NoMemory(picture, need, std::string());
  if (!run.Ran()) {
    o.failure = {run.caption, run.message};
    return o;
  }
  o.stopped = run.end == RunEnd::kStopped && request.method == RunMethod::kTransport;
  if (o.automatic) {
    o.rule = run.rule;
    o.settled = o.rule == AutoRule::kSettle;
    o.atCap = run.end == RunEnd::kAtCap;
  }
  o.fields = engine.m_fields;
  // The result is written before anything optional is measured, so that a
  // measure that cannot be had does not cost the result.
  if (!request.output.empty()) {
    try {
      r = files.SaveResult(request.output, request.overwrite);
    } catch (const std::bad_alloc&) {
      return NoMemory(picture, need, std::string());
    }
    if (!r.ok) {
      o.failure = {r.caption, r.Text()};
      return o;
    }
  }
  o.ok = true;
  if (measured && engine.HasOriginal()) {
    try {
      o.quality =
          MeasureQuality(engine.g_original, engine.g_damaged, ResultPlane(engine), engine.g_mask);
    } catch (const std::bad_alloc&) {
      o.incomplete = "not enough memory to measure the quality of a " + SizeText(picture) +
                     " picture" +
                     (request.output.empty() ? std::string()
                                             : "; the result is in " + request.output);
    }
  }
  // Optional as the measures are: without memory for it the result stands and says so.
  if (estimateRun && heldOutRoom && !o.stopped) {
    try {
      o.estimatedPsnr = engine.EstimateRunPsnr();
    } catch (const std::bad_alloc&) {
      if (o.incomplete.empty())
        o.incomplete = "not enough memory to estimate the quality of a " + SizeText(picture) +
                       " picture" +
                       (request.output.empty() ? std::string()
                                               : "; the result is in " + request.output);
    }
  }
  return o;
}
