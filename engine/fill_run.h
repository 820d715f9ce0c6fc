// The fills beside the transport scheme run by the engine with a run's bookkeeping,
// for the window, the command line and the library alike: the shown fields read,
// the fill's iterations and time added to the totals, the PSNR measured and the
// fields shown. A refusal is a value:
// the picture, the totals and the fields are then as they were.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/auto_fill.h"
#include "engine/fill_status.h"
#include "engine/membrane.h"

class CRestoreEngine;

enum class FillMethod { kMembrane, kBiharmonic, kTension, kTexture, kAuto };

// "membrane", "biharmonic", "tension", "texture", "auto".
const char* FillMethodName(FillMethod method);
// The method of a name above; false (method unchanged) for any other text.
bool ParseFillMethod(const std::string& name, FillMethod* method);

struct FillSettings {
  FillMethod method = FillMethod::kMembrane;
  double tension = 0.5;  // kTension: finite, >= 0
  int threads = 1;       // kAuto's lanes: 1 or 2 (the same bits either way)
  // Also estimate the hole PSNR of a fill other than kAuto (which always does) from
  // held-out copies of its mask: the fill run again on each copy.
  bool estimate = false;
};

struct FillRun {
  bool ran = false;     // false: no damaged image and mask to run on (the engine said so)
  FillOutcome outcome;  // a refusal: nothing changed
  int iterations = 0;   // the solver's, added to the total
  bool converged = true;
  std::optional<MembraneReport> membrane;  // kMembrane
  std::optional<AutoReport> automatic;     // kAuto: the choice and its held-out figures
  // The estimated hole PSNR (NaN when not asked for, or no copy could be held out).
  double estimatedPsnr;
  // kAuto: the fill chosen for each region of the mask ("membrane", "tension 0.5", ...).
  std::vector<std::string> Chosen() const;
  FillRun();
};

FillRun RunFill(CRestoreEngine& engine, const FillSettings& settings);
