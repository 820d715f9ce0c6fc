// The public interface on the engine: each Restore is a session of its own (services
// answered from memory, as the command line's are), loaded as the command line loads
// its files and run as it runs them, so the same pictures and settings give the
// same bytes and figures. The settings reach the run through the texts of the
// edits, as the command line's do: the counts in decimal, the two float fields in
// seventeen digits, which give back the double exactly, so that the edit narrows it
// to single precision just as it narrows a typed number.
//
// Everything the engine is asked lives in this file.
#include "ruvanta/ruvanta.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <new>

#include "engine/engine.h"
#include "engine/fields.h"
#include "engine/fill_run.h"
#include "engine/limits.h"
#include "engine/membrane.h"
#include "engine/metrics.h"
#include "engine/restore.h"

namespace ruvanta {
namespace {

Result Refused(ErrorCode code, std::string message) {
  Result r;
  r.error = {code, std::move(message)};
  r.estimated_psnr = std::numeric_limits<double>::quiet_NaN();
  return r;
}

std::string SizeText(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

// "" when a picture of this size may be restored, else why not.
std::string CheckSize(const char* what, int w, int h, ErrorCode* code) {
  const std::string size = SizeText(w, h);
  *code = ErrorCode::kBadArgument;
  if (w < 1 || h < 1)
    return std::string(what) + " is " + size + "; both sides must be at least 1";
  *code = ErrorCode::kTooLarge;
  if (w > kMaxImageSide || h > kMaxImageSide)
    return std::string(what) + " is " + size + "; the limit is " + std::to_string(kMaxImageSide) +
           " pixels a side";
  const std::uint64_t pixels = std::uint64_t(w) * std::uint64_t(h);
  if (pixels > kMaxImagePixels)
    return std::string(what) + " is " + size + " (" + std::to_string(pixels) +
           " pixels); the limit is " + std::to_string(kMaxImagePixels) + " pixels";
  return std::string();
}

std::string CheckBuffer(const char* what, const void* data, std::size_t stride, std::size_t row) {
  if (data == nullptr) return std::string(what) + " has no pixels (a null buffer)";
  if (stride != 0 && stride < row)
    return std::string(what) + "'s stride is " + std::to_string(stride) + " bytes, less than a row of " +
           std::to_string(row);
  return std::string();
}

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// A value in a message.
std::string Shown(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

// A float field's value: finite and within single precision, as the edit takes it.
bool FloatFits(double v) { return std::isfinite(v) && std::fabs(v) <= double(FLT_MAX); }

// The checks of the settings, in the order of the Options fields; "" when all pass.
std::string CheckOptions(const Options& o, bool original) {
  const auto count = [](const char* name, int v) {
    return v < 0 ? std::string(name) + " must be a whole number from 0 to 2147483647, not " +
                       std::to_string(v)
                 : std::string();
  };
  std::string why;
  if (!(why = count("iterations", o.iterations)).empty()) return why;
  if (!(why = count("diffusion", o.diffusion)).empty()) return why;
  if (!(why = count("per_diffusion", o.per_diffusion)).empty()) return why;
  if (!FloatFits(o.delta_t))
    return "delta_t must be a finite number within single precision, not " + Shown(o.delta_t);
  if (!FloatFits(o.threshold) || o.threshold < 0)
    return "threshold must be a finite number from 0, not " + Shown(o.threshold);
  if (std::isnan(o.settle) || std::isinf(o.settle))
    return "settle must be a finite number, not " + Shown(o.settle);
  if (!std::isfinite(o.tension) || o.tension < 0)
    return "tension must be a finite number from 0, not " + Shown(o.tension);
  if (o.threads < 0)
    return "threads must be 1 or more (0 for the default), not " + std::to_string(o.threads);
  const bool settle = o.settle >= 0;
  if (o.automatic && o.method != Method::kTransport)
    return std::string("automatic applies only to the transport method, not to ") +
           MethodName(o.method) + ", which is solved in one go";
  if (settle && !o.automatic) return "settle applies only to the automatic mode (automatic is off)";
  if (settle && original)
    return "settle applies only without an original: with one the automatic mode stops by the "
           "PSNR rule (see threshold)";
  return std::string();
}

Progress Public(const RunProgress& p) {
  Progress q;
  q.automatic = p.automatic;
  q.iterations_done = p.iterationsDone;
  q.iterations_planned = p.iterationsPlanned;
  q.cycle = p.cycle;
  q.measured = p.measured;
  q.psnr = p.psnr;
  q.settling = p.settling;
  q.mean_change = p.meanChange;
  return q;
}

// One run: the engine, its progress going to the callback.
class Session : public CRunObserver {
 public:
  explicit Session(const ProgressCallback& progress) : m_progress(progress) {
    engine.SetDefaults();
    engine.SetObserver(this);
  }
  void Progress(const RunProgress& p) override {
    if (!m_progress || m_stop) return;
    try {
      m_stop = !m_progress(Public(p));
    } catch (const std::exception& e) {
      m_stop = true;
      m_callbackError = std::string("the progress callback failed: ") + e.what();
    } catch (...) {
      m_stop = true;
      m_callbackError = "the progress callback failed";
    }
  }
  bool StopRequested() override { return m_stop; }

  CRestoreEngine engine;
  std::string m_callbackError;

 private:
  const ProgressCallback& m_progress;
  bool m_stop = false;
};

ErrorCode CodeOf(FillStatus status) {
  switch (status) {
    case FillStatus::kOk:
      return ErrorCode::kNone;
    case FillStatus::kSizeMismatch:
      return ErrorCode::kSizeMismatch;
    case FillStatus::kBadArgument:
      return ErrorCode::kBadArgument;
    case FillStatus::kTooLarge:
      return ErrorCode::kTooLarge;
    case FillStatus::kOutOfMemory:
      return ErrorCode::kOutOfMemory;
  }
  return ErrorCode::kRunFailed;
}


Result RestoreIn(const Image& damaged, const Mask& mask, const Options& options,
                 const Image* original, const ProgressCallback& progress) {
  ErrorCode code = ErrorCode::kNone;
  std::string why = CheckSize("the damaged picture", damaged.width, damaged.height, &code);
  if (!why.empty()) return Refused(code, why);
  const std::size_t rowBytes = std::size_t(damaged.width) * 3;
  if (!(why = CheckBuffer("the damaged picture", damaged.rgb, damaged.stride, rowBytes)).empty())
    return Refused(ErrorCode::kBadArgument, why);
  if (mask.width != damaged.width || mask.height != damaged.height)
    return Refused(ErrorCode::kSizeMismatch, "the mask is " + SizeText(mask.width, mask.height) +
                                                 " but the damaged picture is " +
                                                 SizeText(damaged.width, damaged.height));
  if (!(why = CheckBuffer("the mask", mask.cells, mask.stride, std::size_t(mask.width))).empty())
    return Refused(ErrorCode::kBadArgument, why);
  if (original) {
    if (original->width != damaged.width || original->height != damaged.height)
      return Refused(ErrorCode::kSizeMismatch,
                     "the original is " + SizeText(original->width, original->height) +
                         " but the damaged picture is " + SizeText(damaged.width, damaged.height));
    if (!(why = CheckBuffer("the original", original->rgb, original->stride, rowBytes)).empty())
      return Refused(ErrorCode::kBadArgument, why);
  }
  if (!(why = CheckOptions(options, original != nullptr)).empty())
    return Refused(ErrorCode::kBadArgument, why);

  const int w = damaged.width, h = damaged.height;
  const auto bytes = [&](const Image& image) {
    return PixelBytes{w, h, image.rgb, image.stride ? image.stride : rowBytes};
  };
  Session session(progress);
  CRestoreEngine& engine = session.engine;
  if (!engine.ReadDamagedPixels(bytes(damaged)))
    return Refused(ErrorCode::kOutOfMemory,
                   "not enough memory for the planes and diffusion grids of a " + SizeText(w, h) +
                       " picture");
  {
    // The mask as a picture whose first channel is the mask's byte: the engine marks
    // a pixel whose channels are not all zero.
    const std::size_t maskStride = mask.stride ? mask.stride : std::size_t(w);
    std::vector<std::uint8_t> cells(rowBytes * std::size_t(h), 0);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* from = mask.cells + std::size_t(y) * maskStride;
      std::uint8_t* to = cells.data() + std::size_t(y) * rowBytes;
      for (int x = 0; x < w; ++x) to[std::size_t(x) * 3] = from[x];
    }
    if (engine.BuildMaskList(PixelBytes{w, h, cells.data(), rowBytes}) < 0)
      return Refused(ErrorCode::kOutOfMemory, "not enough memory for the mask list");
  }
  engine.m_fields.m_nMaskPixels = std::uint32_t(engine.m_nMaskCount);
  engine.ShowFields();
  if (original && !engine.ReadOriginalPixels(bytes(*original)))
    return Refused(ErrorCode::kOutOfMemory, "not enough memory for the original's plane");

  RunSettings settings;
  ParseRunMethod(MethodName(options.method), &settings.method);
  settings.automatic = options.automatic;
  settings.transportIterations = options.iterations;
  settings.diffusionIterations = options.diffusion;
  settings.transportPerDiffusion = options.per_diffusion;
  // In single precision, as a number typed into the field is kept.
  ParseFloatField(Number(options.delta_t), &settings.deltaT);
  ParseFloatField(Number(options.threshold), &settings.threshold);
  if (options.settle >= 0) settings.settleLevel = options.settle;
  settings.ruleWithoutOriginal = options.settle >= 0 ? AutoRule::kSettle : AutoRule::kHeldOut;
  settings.tension = options.tension;
  settings.threads = options.threads;

  Result r;
  const RunOutcome run = Restore(engine, settings);
  if (run.end == RunEnd::kRefused)
    return Refused(run.fill ? CodeOf(run.fill->outcome.status) : ErrorCode::kRunFailed,
                   run.message);
  if (!run.Ran()) return Refused(ErrorCode::kRunFailed, run.message);
  if (!session.m_callbackError.empty()) return Refused(ErrorCode::kRunFailed, session.m_callbackError);
  r.estimated_psnr = run.estimatedPsnr;
  r.stopped = run.end == RunEnd::kStopped;
  r.unsettled = run.end == RunEnd::kAtCap;
  r.settled = run.end == RunEnd::kSettled;
  if (run.fill) r.chosen = run.fill->Chosen();

  const CDialogFields& f = engine.m_fields;
  r.mask_pixels = f.m_nMaskPixels;
  r.psnr_damaged = f.m_fPsnrDamaged;
  r.psnr_result = f.m_fPsnrResult;
  r.iterations = f.m_nTotalIter;
  r.seconds = f.m_fSeconds;
  r.width = w;
  r.height = h;
  r.pixels.resize(rowBytes * std::size_t(h));
  engine.ResultPixels(r.pixels.data(), rowBytes);
  if (original) {
    // Measured on the result as it is handed back: whole bytes.
    BytePlane result;
    if (!result.Resize(w, h))
      return Refused(ErrorCode::kOutOfMemory, "not enough memory to measure the result");
    for (int y = 0; y < h; ++y)
      std::copy(r.pixels.data() + std::size_t(y) * rowBytes,
                r.pixels.data() + std::size_t(y) * rowBytes + result.RowStride(), result.At(0, y));
    const QualityMetrics q = MeasureQuality(engine.g_original, engine.g_damaged, result, engine.g_mask);
    r.has_quality = true;
    r.quality.psnr_hole_damaged = q.psnrHoleDamaged;
    r.quality.psnr_hole_result = q.psnrHoleResult;
    r.quality.ssim_damaged = q.ssimDamaged;
    r.quality.ssim_result = q.ssimResult;
    r.quality.ssim_box_damaged = q.ssimBoxDamaged;
    r.quality.ssim_box_result = q.ssimBoxResult;
    r.quality.has_box = q.hasBox;
    r.quality.box_x0 = q.box.x0;
    r.quality.box_y0 = q.box.y0;
    r.quality.box_x1 = q.box.x1;
    r.quality.box_y1 = q.box.y1;
  }
  return r;
}

}  // namespace

const char* Version() { return "1.0"; }

const char* MethodName(Method method) {
  switch (method) {
    case Method::kTransport:
      return "transport";
    case Method::kMembrane:
      return "membrane";
    case Method::kBiharmonic:
      return "biharmonic";
    case Method::kTension:
      return "tension";
    case Method::kTexture:
      return "texture";
    case Method::kAuto:
      return "auto";
  }
  return "unknown";
}

bool ParseMethod(const std::string& name, Method* method) {
  for (Method m : {Method::kTransport, Method::kMembrane, Method::kBiharmonic, Method::kTension,
                   Method::kTexture, Method::kAuto}) {
    if (name == MethodName(m)) {
      *method = m;
      return true;
    }
  }
  return false;
}

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::kNone:
      return "none";
    case ErrorCode::kBadArgument:
      return "bad argument";
    case ErrorCode::kSizeMismatch:
      return "size mismatch";
    case ErrorCode::kTooLarge:
      return "too large";
    case ErrorCode::kOutOfMemory:
      return "out of memory";
    case ErrorCode::kRunFailed:
      return "run failed";
  }
  return "unknown";
}

Result Restore(const Image& damaged, const Mask& mask, const Options& options,
               const Image* original, const ProgressCallback& progress) {
  try {
    return RestoreIn(damaged, mask, options, original, progress);
  } catch (const std::bad_alloc&) {
    return Refused(ErrorCode::kOutOfMemory, "not enough memory for a " +
                                                SizeText(damaged.width, damaged.height) +
                                                " picture");
  } catch (const std::exception& e) {
    return Refused(ErrorCode::kRunFailed, e.what());
  }
}

}  // namespace ruvanta
