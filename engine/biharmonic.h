// Smooth fills of the masked pixels beside the membrane: the thin-plate (biharmonic)
// fill and the fill under tension between it and the membrane, one channel at a
// time, the unmasked pixels as fixed values.
//
// The fill minimises, over the masked values u,
//   E(u) = sum of (u_xx)^2 + 2 (u_xy)^2 + (u_yy)^2  +  lambda * sum of (u_p - u_q)^2,
// the second differences taken wherever their pixels lie inside the picture (u_xx at
// (x, y) for 1 <= x <= W - 2, u_xy on every 2 x 2 square), the last sum over the pairs
// of 4-neighbours inside the picture. In the interior its equation is
// (Delta^2 - lambda Delta) u = 0 (the 13-point biharmonic stencil 20, -8, 2, 1 plus
// lambda times the 5-point Laplacian). Nothing is assumed beyond the picture's edge:
// the missing differences give the natural (free-plate) conditions, so a linear ramp
// runs on through a hole on the edge or in a corner exactly as through one in the
// middle. lambda = 0 is the biharmonic fill; as lambda grows the fill tends to the
// membrane's (MembraneFill), whose energy is the last sum alone.
//
// The masked values solve a symmetric positive definite system, solved by conjugate
// gradients preconditioned with one multigrid V-cycle; the fill stops when the
// relative residual ||b - A u|| / ||b|| of every channel is at most the tolerance.
// The result depends on the unmasked pixels alone, never on what the masked ones held.
#pragma once

#include <memory>

#include "engine/fill_status.h"
#include "engine/planes.h"

// Relative residual ||b - A u|| / ||b|| (two-norm, per channel) a fill must reach.
constexpr double kPlateTolerance = 1e-6;
// Preconditioned conjugate-gradient iterations before a fill gives up.
constexpr int kPlateMaxIterations = 500;

struct PlateOptions {
  double tension = 0.0;  // lambda: finite, >= 0
  double tolerance = kPlateTolerance;
  int maxIterations = kPlateMaxIterations;
  // Write whole values 0..255 (the nearest, as MembraneFill does); false writes the
  // solution itself, unclamped (for measuring the solver).
  bool round = true;
};

struct PlateReport {
  FillOutcome outcome;            // anything but kOk: the picture untouched
  int iterations = 0;             // the most any channel needed
  double relativeResidual = 0.0;  // the largest over the channels, recomputed at the end
  bool converged = false;         // every channel reached the tolerance
  int unboundedPixels = 0;        // every pixel masked: nothing to fill from, left as it was
  // lambda = 0 and the known pixels all on one straight line (one known row, a single
  // known pixel): every plane through that line costs nothing, so the plate does not
  // fix the fill, and the membrane's solution is written instead.
  bool membraneFallback = false;
  int levels = 0;  // grids of the multigrid preconditioner, the picture's own included
};

// Replaces every masked pixel of `work` (mask cell not zero) by the minimiser of E
// with lambda = options.tension. Unmasked pixels never change. When every pixel is
// masked the picture is left as it is and all its pixels are reported unbounded.
PlateReport PlateFill(RgbPlane* work, const MaskPlane& mask, const PlateOptions& options = {});

// The same fill, keeping what it built for its last mask: a further fill with the same
// mask (another picture, another tension) skips building the grids, and the memory
// serves the next mask. The results are the same bits as PlateFill's. One thread at a
// time.
class CPlateFill {
 public:
  CPlateFill();
  ~CPlateFill();
  CPlateFill(const CPlateFill&) = delete;
  CPlateFill& operator=(const CPlateFill&) = delete;
  PlateReport Fill(RgbPlane* work, const MaskPlane& mask, const PlateOptions& options = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// The biharmonic fill: PlateFill with lambda = 0.
PlateReport BiharmonicFill(RgbPlane* work, const MaskPlane& mask);
// The fill under tension lambda.
PlateReport TensionFill(RgbPlane* work, const MaskPlane& mask, double tension);
