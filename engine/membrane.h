// Harmonic (membrane) fill of the masked pixels: a baseline restoration that solves
// the discrete Laplace equation in the hole, with the unmasked pixels as its fixed
// boundary, one channel at a time.
#pragma once

#include <optional>

#include "engine/fill_status.h"
#include "engine/planes.h"

class CRestoreEngine;

// Relative residual ||b - A u|| / ||b|| (two-norm, per channel) a fill must reach.
constexpr double kMembraneTolerance = 1e-6;
// Conjugate gradient iterations before a fill gives up.
constexpr int kMembraneMaxIterations = 10000;

enum class MembraneStatus {
  kOk,
  kSizeMismatch,  // the mask is not the size of the picture
  kBadArgument,   // null picture, tolerance not a finite number >= 0, negative cap
  kTooLarge,      // more pixels than an int can count
  kOutOfMemory,
};

struct MembraneReport {
  int iterations = 0;             // the most any channel needed
  double relativeResidual = 0.0;  // the largest over the channels, recomputed at the end
  bool converged = false;         // every channel reached the tolerance
  int unboundedPixels = 0;        // masked pixels with no boundary, left as they were
  MembraneStatus status = MembraneStatus::kOk;  // anything else: the picture untouched
};

// Replaces every masked pixel of `work` (mask cell not zero) by the solution of
// sum over its 4-neighbours q inside the picture of (u_p - u_q) = 0, the unmasked q
// fixed to their values, then rounds it to the nearest integer in 0..255. Unmasked
// pixels never change. When every pixel is masked there is no boundary: the picture
// is left as it is and all its pixels are reported unbounded. The result depends on
// the unmasked pixels alone, not on the values the masked ones had.
MembraneReport MembraneFill(RgbPlane* work, const MaskPlane& mask,
                            double tolerance = kMembraneTolerance,
                            int maxIterations = kMembraneMaxIterations);

// The same solution, written without rounding or clamping (for measuring the
// solver itself).
MembraneReport SolveMembrane(RgbPlane* work, const MaskPlane& mask,
                             double tolerance = kMembraneTolerance,
                             int maxIterations = kMembraneMaxIterations);

// The membrane fill as a run of the engine: the shown fields are read, the work
// plane's masked pixels are filled, the solver's iterations are added to the total
// iterations and the time it took to the seconds, the PSNR is measured and the
// fields shown, as a transport run ends. Nothing when the engine cannot run
// (CanRun); a report whose status is not kOk when the fill refused (the work plane
// and the totals unchanged; MembraneRefusalText is the message to show).
std::optional<MembraneReport> RunMembrane(CRestoreEngine& engine);
// The message a refusal of the fill shows ("" for kOk).
const char* MembraneRefusalText(MembraneStatus status);
// The refusal as the other fills give theirs (kOk for kOk).
FillOutcome MembraneOutcome(MembraneStatus status);
