#include "engine/fill_run.h"

#include <cmath>
#include <limits>
#include <new>

#include "engine/biharmonic.h"
#include "engine/engine.h"
#include "engine/run_clock.h"
#include "engine/texture.h"

namespace {
constexpr const char* kNames[] = {"membrane", "biharmonic", "tension", "texture", "auto"};


FillKind KindOf(FillMethod method) {
  switch (method) {
    case FillMethod::kBiharmonic:
      return FillKind::kBiharmonic;
    case FillMethod::kTension:
      return FillKind::kTension;
    case FillMethod::kTexture:
      return FillKind::kTexture;
    default:
      return FillKind::kMembrane;
  }
}

// Runs the fill itself on `work`; `run` gets its figures.
void Fill(RgbPlane* work, const MaskPlane& mask, const FillSettings& s, FillRun* run) {
  switch (s.method) {
    case FillMethod::kMembrane: {
      run->membrane = MembraneFill(work, mask);
      run->outcome = MembraneOutcome(run->membrane->status);
      run->iterations = run->membrane->iterations;
      run->converged = run->membrane->converged;
      return;
    }
    case FillMethod::kBiharmonic:
    case FillMethod::kTension: {
      if (s.method == FillMethod::kTension && !(std::isfinite(s.tension) && s.tension >= 0.0)) {
        run->outcome = {FillStatus::kBadArgument, "the tension must be a finite number >= 0"};
        return;
      }
      const PlateReport report = s.method == FillMethod::kBiharmonic
                                     ? BiharmonicFill(work, mask)
                                     : TensionFill(work, mask, s.tension);
      run->outcome = report.outcome;
      run->iterations = report.iterations;
      run->converged = report.converged;
      return;
    }
    case FillMethod::kTexture:
      run->outcome = TextureFill(work, mask).outcome;
      return;
    case FillMethod::kAuto: {
      AutoOptions options;
      options.threads = s.threads >= 2 ? 2 : 1;
      run->automatic = AutoFill(work, mask, options);
      run->outcome = run->automatic->outcome;
      run->estimatedPsnr = run->automatic->estimatedPsnr;
      return;
    }
  }
}
}  // namespace

const char* FillMethodName(FillMethod method) { return kNames[int(method)]; }

bool ParseFillMethod(const std::string& name, FillMethod* method) {
  for (int i = 0; i < int(sizeof kNames / sizeof kNames[0]); ++i)
    if (name == kNames[i]) {
      *method = FillMethod(i);
      return true;
    }
  return false;
}

FillRun::FillRun() : estimatedPsnr(std::numeric_limits<double>::quiet_NaN()) {}

std::vector<std::string> FillRun::Chosen() const {
  std::vector<std::string> chosen;
  if (automatic)
    for (const AutoRegion& region : automatic->regions)
      chosen.push_back(automatic->candidates[std::size_t(region.candidate)]);
  return chosen;
}

FillRun RunFill(CRestoreEngine& engine, const FillSettings& settings) {
  FillRun run;
  if (!engine.CanRun()) return run;
  run.ran = true;
  CRunClock& clock = engine.Clock();
  engine.ReadShownFields();
  const std::uint64_t start = clock.GetTickCount64();
  // The fill works on a copy: a refusal, or memory running out half-way, leaves the
  // result as it was.
  try {
    RgbPlane work = engine.g_work;
    if (work.Width() != engine.g_work.Width()) throw std::bad_alloc();
    Fill(&work, engine.g_mask, settings, &run);
    if (run.outcome.ok()) engine.g_work.Swap(work);
  } catch (const std::bad_alloc&) {
    run.outcome = {FillStatus::kOutOfMemory, "not enough memory for the " +
                                                 std::string(FillMethodName(settings.method)) +
                                                 " fill"};
  }
  const std::uint64_t end = clock.GetTickCount64();
  if (!run.outcome.ok()) return run;
  CDialogFields& f = engine.m_fields;
  f.m_nTotalIter = f.m_nTotalIter + std::uint32_t(run.iterations);
  f.m_fSeconds = AddElapsedSeconds(f.m_fSeconds, start, end);
  if (settings.estimate && settings.method != FillMethod::kAuto) {
    try {
      const AutoOptions defaults;
      run.estimatedPsnr = EstimateHolePsnr(
          engine.g_damaged, engine.g_mask,
          FillRestorer(KindOf(settings.method), settings.tension, defaults.heldOutTolerance),
          defaults.heldOut);
    } catch (const std::bad_alloc&) {
      // The estimate is optional: the result stands without it.
    }
  }
  engine.MeasurePsnr();
  engine.ShowFields();
  return run;
}
