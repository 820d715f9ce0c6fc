#include "ui/run_methods.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "engine/engine.h"
#include "engine/fill_run.h"
#include "engine/membrane.h"

namespace {
double RunTransport(CRestoreEngine& engine, bool automatic, bool estimate) {
  if (!automatic) {
    engine.OnRun();
    return estimate && !engine.LastRunStopped() ? engine.EstimateRunPsnr()
                                                : std::numeric_limits<double>::quiet_NaN();
  }
  engine.OnAuto();
  // Without an original the held-out rule's last figure estimates the result's quality.
  return engine.LastAutoRule() == AutoRule::kHeldOut ? engine.LastHeldOutPsnr()
                                                     : std::numeric_limits<double>::quiet_NaN();
}

template <FillMethod kMethod>
double RunFillOf(CRestoreEngine& engine, bool, bool estimate) {
  return RunOneFill(engine, kMethod, estimate);
}
}  // namespace

double RunOneFill(CRestoreEngine& engine, FillMethod method, bool estimate) {
  FillSettings settings;
  settings.method = method;
  settings.threads = engine.m_nThreads;
  settings.estimate = estimate;
  const FillRun run = RunFill(engine, settings);
  if (run.ran && !run.outcome.ok()) {
    if (run.outcome.status == FillStatus::kOutOfMemory) throw std::bad_alloc();
    const std::string text =
        run.membrane && run.membrane->status != MembraneStatus::kOk
            ? std::string(MembraneRefusalText(run.membrane->status))
            : "The " + std::string(FillMethodName(method)) + " fill refused: " + run.outcome.reason +
                  ".";
    engine.Services().MessageBox(text, "error");
  }
  return run.estimatedPsnr;
}

const std::vector<RunMethodEntry>& RunMethods() {
  static const std::vector<RunMethodEntry> methods = {
      {"transport", "transport",
       "RUVANTA: transport iterations along the isophotes in blocks, each followed by diffusion; "
       "Go !!! runs cycles of them automatically",
       true, true, RunTransport},
      {"membrane", "membrane",
       "RUVANTA: the harmonic (membrane) fill, solved in one go; smooth, with no ghost lines "
       "(the iteration fields do not apply)",
       false, false, RunFillOf<FillMethod::kMembrane>},
      {"biharmonic", "biharmonic",
       "RUVANTA: the thin-plate (biharmonic) fill, solved in one go; carries the slope of the "
       "surroundings into the hole, best on thin scratches and text over smooth areas",
       false, false, RunFillOf<FillMethod::kBiharmonic>},
      {"tension", "tension 0.5",
       "RUVANTA: the thin-plate fill under tension 0.5, between the biharmonic fill and the "
       "membrane; solved in one go",
       false, false, RunFillOf<FillMethod::kTension>},
      {"texture", "texture",
       "RUVANTA: the frequency-selective fill, which models each block of the picture from "
       "its known pixels; best on thin masks over texture (fur, bricks, fabric)",
       false, false, RunFillOf<FillMethod::kTexture>},
      {"auto", "auto (chooses per region)",
       "RUVANTA: hides known pixels under shifted copies of each region of the mask, restores "
       "them with every fill, and fills each region with the one that restored them best; "
       "shows its estimate of the quality",
       false, false, RunFillOf<FillMethod::kAuto>},
  };
  return methods;
}

const RunMethodEntry& FindRunMethod(const char* name) {
  for (const RunMethodEntry& m : RunMethods())
    if (name && std::strcmp(m.name, name) == 0) return m;
  return RunMethods().front();
}
