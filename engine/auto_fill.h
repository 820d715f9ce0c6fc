// The fill that chooses its method per region of the mask by checking the candidates
// on pixels it knows (engine/holdout.h): the membrane, the biharmonic fill, the fill
// under a few tensions and the texture fill each restore the same held-out copies of
// every region; each region is then filled by the candidate with the best held-out
// PSNR there. The original is never read. The report gives the choice and the
// held-out figures per region and for the whole, and the estimated hole PSNR.
//
// The held-out fills of the plate candidates stop at a looser tolerance than the final
// fill (a ranking needs less than a result); the final fill of every chosen candidate
// runs at its own default tolerance. Candidates run in two lanes (the plate fills,
// which share their grids, and the rest), side by side when two threads or more are
// allowed; each lane's work and the order of every sum are fixed, so the result is
// the same bits whatever the thread count.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/biharmonic.h"
#include "engine/fill_status.h"
#include "engine/holdout.h"
#include "engine/planes.h"
#include "engine/texture.h"

struct AutoOptions {
  bool membrane = true;
  bool biharmonic = true;
  std::vector<double> tensions = {0.05, 0.5};  // a tension candidate each (finite, > 0)
  bool texture = true;
  TextureOptions textureOptions;
  HeldOutOptions heldOut;
  double heldOutTolerance = 1e-4;  // of the plate fills on the held-out copies
  HeldOutPrior prior;              // see ChooseHeldOut
  int threads = 1;                 // 1 or more (two lanes use at most 2)
};

struct AutoRegion {
  int pixels = 0;  // in the real mask
  PixelBox box;
  int candidate = 0;       // index into AutoReport::candidates
  double heldOutPsnr = 0;  // of that candidate on the region's copies; NaN: no copy
  std::int64_t heldOutPixels = 0;
};

struct AutoReport {
  FillOutcome outcome;                         // anything but kOk: the picture untouched
  std::vector<std::string> candidates;         // "membrane", "biharmonic", "tension 0.5", "texture"
  std::vector<double> candidateHeldOutPsnr;    // pooled over every copy
  std::vector<double> candidateEstimatedPsnr;  // had it filled every region
  std::vector<AutoRegion> regions;
  // The candidate chosen for every region when it is the same one, else -1.
  int single = -1;
  int overall = 0;             // the candidate of the best pooled held-out PSNR
  double heldOutPsnr = 0.0;    // pooled over every copy, each by its region's choice
  double estimatedPsnr = 0.0;  // the estimated hole PSNR of the result
  std::int64_t heldOutPixels = 0;
  bool separated = true;  // every copy kept clear of the mask (see HeldOutRound)
};

// The fills the automatic fill chooses among, each on its own.
enum class FillKind { kMembrane, kBiharmonic, kTension, kTexture };

// One fill as a Restorer for held-out checks: the plate fills (kBiharmonic, kTension
// with `tension`) stop at `tolerance` and may share `plate` (the grids of a held-out
// mask built once for several tensions; made when null); the texture fill takes
// `texture`.
Restorer FillRestorer(FillKind kind, double tension, double tolerance,
                      std::shared_ptr<CPlateFill> plate = nullptr,
                      const TextureOptions& texture = {});

// Fills the masked pixels of `work` (damaged values under the mask are never read).
// An empty mask leaves the picture as it is; a mask of every pixel has nothing to
// check against and is left as it is too, every region reported without a copy.
AutoReport AutoFill(RgbPlane* work, const MaskPlane& mask, const AutoOptions& options = {});

// The held-out estimate of the hole PSNR of one restoration (any Restorer, e.g. the
// transport scheme run on the hidden pixels), on the copies PlanHeldOut makes.
// NaN when no region has a copy; `outcome` (when given) says why it could not run.
// `damaged` an RgbPlane or a BytePlane.
template <typename Picture>
double EstimateHolePsnr(const Picture& damaged, const MaskPlane& mask, const Restorer& restore,
                        const HeldOutOptions& options = {}, FillOutcome* outcome = nullptr);
