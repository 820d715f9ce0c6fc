// Checking a restoration on pixels it knows. Known pixels are hidden under shifted
// copies of the mask's regions, each candidate restoration restores them with the
// real mask still hidden, and its result is compared with the values it was not
// shown: a held-out PSNR per region and candidate, without any original. From it
// come the choice of a candidate per region and an estimate of the hole PSNR of
// whatever candidate fills the real mask.
//
// A region is a connected part of the mask (8-neighbours; a sparse part larger than a
// tile is cut along the tile grid, so that a web of scratches over the whole picture
// is checked, and filled, piece by piece). Its copy in a round is the
// region moved by a whole-pixel shift such that the copy
//   - keeps every pixel as near the picture's edge as the pixel it copies, up to 8
//     pixels (a band on the edge moves along it; a region in the middle never comes
//     within 8 pixels of the edge): a fill has support on one side only at the edge,
//   - keeps `margin` pixels (in both directions) clear of the mask and of the copies
//     of other regions placed in the same round, so that no copy merges with a hole,
// taking, among the eight directions, the shortest shifts that satisfy this; each
// round takes the next direction, and no round repeats a copy. Where no whole copy
// fits (a scratch that crosses others), the pixels that break the rules are left out,
// as long as a third of the region remains.
//
// A region that lies along the edge (its pixels on the edge at least twice its mean
// depth: a band, a blotch cut by the edge) is filled from one side only, so a copy beside it, with
// the mask 2 pixels away, would be an easier problem. Unless it has a whole copy along the edge, it
// gets edge rounds instead: for each edge it touches, its pixels nearest that edge move inward by
// its depth there, and the round's restorations see the picture less that band, so the copy meets
// the new edge as the region meets the old one.
//
// A region in the middle that has no copy at all (a hole too large to move) gets a
// copy over its own place instead: the shortest shift whose pixels outside the mask
// are at least a quarter of the region, those pixels held out (on the edge only where
// the region is), with the mask still hidden beside them.
//
// The held-out pixels of a round take the damaged values of the pixels they were
// copied from, so that a restoration that reads the values under its mask sees the
// same kind of damage as on the real mask. Everything is worked out in row order
// from the mask alone: the same mask gives the same plan.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/fill_status.h"
#include "engine/metrics.h"
#include "engine/planes.h"

struct MaskRegion {
  int pixels = 0;
  PixelBox box;            // the smallest box holding it
  int edgePixels = 0;      // its pixels on the picture's edge
  std::int64_t first = 0;  // the offset into `cells` of its pixels, in row order
};

// The regions of a mask, numbered in the row order of their first pixels: its parts
// connected by 8-neighbours, a sparse part larger than a tile (a web of scratches
// that crosses the picture, a long line) cut along the grid of tiles of side `tile`.
struct MaskRegions {
  int width = 0, height = 0;
  std::vector<std::int32_t> label;  // width x height: the region of each pixel, -1 if unmasked
  std::vector<std::int32_t> cells;  // y * width + x of every masked pixel, region by region
  std::vector<MaskRegion> regions;
};

// False (regions empty) when out of memory. tile 0: parts are never cut.
bool FindRegions(const MaskPlane& mask, MaskRegions* out, int tile = 0);

struct HeldOutOptions {
  int rounds = 3;  // copies per region, each in a round of its own: 1 .. 8
  int margin = 2;  // clear pixels between a copy and the mask or another copy: 0 .. 16
  int reach = 64;  // the longest shift tried, in pixels along its direction: 1 .. 4096
  int tile = 64;   // the side of the tiles a sparse region is cut into (FindRegions): 0, 8 .. 4096
};

struct HeldOutShift {
  int dx = 0, dy = 0;
  bool placed = false;
  bool overlapping = false;  // the copy lies over its own region (a hole too large to move)
  int pixels = 0;            // held-out pixels of this copy
};

struct HeldOutRound {
  // The part of the picture the round's restorations see: all of it, or for an edge
  // round the picture less a band along one edge. target and hidden are of its size,
  // cell (x, y) standing for the picture's (crop.x0 + x, crop.y0 + y).
  PixelBox crop;
  MaskPlane target;  // the held-out pixels of the round
  MaskPlane hidden;  // the mask and the held-out pixels: what the restorations may not read
  std::vector<HeldOutShift> shifts;  // per region
  // true when every copy keeps at least 2 pixels clear of the mask, so a restoration
  // whose pixels reach only 2 pixels may restore the copies alone
  bool separated = true;
};

struct HeldOutPlan {
  MaskRegions regions;
  std::vector<HeldOutRound> rounds;
};

// The copies of every region of `mask`. kBadArgument for options out of range, kOutOfMemory.
FillOutcome PlanHeldOut(const MaskPlane& mask, const HeldOutOptions& options, HeldOutPlan* plan);

// The picture a round's restorations start from: `damaged` with each held-out pixel
// taking the damaged value of the region pixel it was copied from. For an RgbPlane
// or a BytePlane `damaged`; `out` an RgbPlane, or a BytePlane from a BytePlane.
template <typename Picture, typename Out>
bool HeldOutPicture(const Picture& damaged, const HeldOutPlan& plan, std::size_t round, Out* out);

// A restoration under test: restores the pixels `target` marks in *work, with the
// pixels `hidden` marks (target among them) unknown: their values are not to be used.
// It changes no pixel outside `hidden`.
using Restorer =
    std::function<FillOutcome(RgbPlane* work, const MaskPlane& hidden, const MaskPlane& target)>;

struct HeldOutCandidate {
  std::string name;
  Restorer restore;
  // Candidates of one lane run one after another on one thread, in their order (they
  // may share state); lanes may run side by side.
  int lane = 0;
};

// Sums of squared differences (three channels) and pixel counts of each candidate's
// restoration of each region's copies, over all rounds: [region * candidates + c].
struct HeldOutScores {
  int regions = 0, candidates = 0;
  std::vector<double> squares;
  std::vector<std::int64_t> pixels;  // held-out pixels (each counts three values)
  std::vector<int> copies;           // per region: the rounds that held some of its pixels out
  double Mse(int region, int candidate) const;
  // Over all regions' copies.
  double PooledMse(int candidate) const;
};

// Runs every candidate on every round of `plan` over `damaged` and compares with the
// known values. `threads` (1 or more) lanes at a time. The first refusal of a
// candidate ends the scoring and is returned. `damaged` an RgbPlane or a BytePlane.
template <typename Picture>
FillOutcome ScoreHeldOut(const Picture& damaged, const HeldOutPlan& plan,
                         const std::vector<HeldOutCandidate>& candidates, int threads,
                         HeldOutScores* scores);

// PSNR (peak 255) of a mean squared error of the three channels; +inf for 0, NaN for NaN.
double PsnrOfMse(double mse);

struct RegionChoice {
  int candidate = 0;
  double heldOutPsnr = 0.0;  // of the chosen candidate on the region's own copies (NaN: none)
  std::int64_t heldOutPixels = 0;
};

struct HeldOutChoice {
  std::vector<RegionChoice> regions;
  int overall = 0;  // the candidate with the best pooled held-out PSNR
  // Pooled over every copy, each region's by the candidate chosen for it.
  double heldOutPsnr = 0.0;
  // The estimate of the hole PSNR of the composed fill: each region's held-out mean
  // squared error weighted by its size in the real mask.
  double estimatedPsnr = 0.0;
};

// How much a region's own held-out error counts against the pooled error of all
// regions: with n held-out pixels in c copies, its share is n / (n + pixels) times
// c / (c + copies). A few copies sample a large region at a few places only, where the
// picture may differ from the region's own place; the pooled error samples many.
struct HeldOutPrior {
  double pixels = 16.0;
  double copies = 8.0;
};

// Per region the candidate of least held-out error, each region's error mixed with the
// candidate's pooled error by `prior`; a region without copies takes the pooled
// choice. Ties go to the earlier candidate. Out of memory: no regions, NaN figures.
HeldOutChoice ChooseHeldOut(const HeldOutPlan& plan, const HeldOutScores& scores,
                            const HeldOutPrior& prior = {});

// The estimated hole PSNR of filling every region with `candidate`: each region's
// held-out error (mixed as in ChooseHeldOut) weighted by its size.
double EstimatedPsnr(const HeldOutPlan& plan, const HeldOutScores& scores, int candidate,
                     const HeldOutPrior& prior = {});

// A restoration whose pixels depend only on known pixels within `reach` (in the sense
// of |dx| + |dy|, 2 for the plate fills, 1 for the membrane) made into a Restorer:
// `fill` is run on the parts of `hidden` that connect (within that reach) to a target
// pixel, with the others left known. The parts it is not run on are exactly those
// that cannot change the target's values, so the result on the target is the same.
Restorer LocalRestorer(int reach, std::function<FillOutcome(RgbPlane*, const MaskPlane&)> fill);
