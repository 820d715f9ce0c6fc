#include "engine/auto_fill.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "engine/biharmonic.h"
#include "engine/membrane.h"

namespace {

std::string TensionName(double tension) {
  char text[48];
  std::snprintf(text, sizeof text, "tension %g", tension);
  return text;
}

struct Candidates {
  std::vector<std::string> names;
  std::vector<HeldOutCandidate> heldOut;  // plate fills at the held-out tolerance
  std::vector<HeldOutCandidate> final;
};

Candidates MakeCandidates(const AutoOptions& options) {
  Candidates c;
  auto add = [&](std::string name, Restorer heldOut, Restorer final, int lane) {
    c.names.push_back(name);
    c.heldOut.push_back({name, std::move(heldOut), lane});
    c.final.push_back({std::move(name), std::move(final), lane});
  };
  // The plate fills of one lane share `plate`, so a held-out mask is gridded once for
  // all their tensions.
  auto plate = std::make_shared<CPlateFill>();
  const double loose = options.heldOutTolerance;
  if (options.biharmonic)
    add("biharmonic", FillRestorer(FillKind::kBiharmonic, 0.0, loose, plate),
        FillRestorer(FillKind::kBiharmonic, 0.0, kPlateTolerance, plate), 0);
  for (double t : options.tensions)
    add(TensionName(t), FillRestorer(FillKind::kTension, t, loose, plate),
        FillRestorer(FillKind::kTension, t, kPlateTolerance, plate), 0);
  if (options.membrane) {
    const Restorer m = FillRestorer(FillKind::kMembrane, 0.0, 0.0);
    add("membrane", m, m, 1);
  }
  if (options.texture) {
    const Restorer t = FillRestorer(FillKind::kTexture, 0.0, 0.0, nullptr, options.textureOptions);
    add("texture", t, t, 1);
  }
  return c;
}

AutoReport Refuse(FillStatus status, std::string reason) {
  AutoReport r;
  r.outcome = {status, std::move(reason)};
  return r;
}
}  // namespace

Restorer FillRestorer(FillKind kind, double tension, double tolerance,
                      std::shared_ptr<CPlateFill> plate, const TextureOptions& texture) {
  switch (kind) {
    case FillKind::kMembrane:
      return LocalRestorer(1, [](RgbPlane* work, const MaskPlane& part) {
        return MembraneOutcome(MembraneFill(work, part).status);
      });
    case FillKind::kBiharmonic:
    case FillKind::kTension:
      if (!plate) plate = std::make_shared<CPlateFill>();
      if (kind == FillKind::kBiharmonic) tension = 0.0;
      return LocalRestorer(2, [plate, tension, tolerance](RgbPlane* work, const MaskPlane& part) {
        PlateOptions o;
        o.tension = tension;
        o.tolerance = tolerance;
        return plate->Fill(work, part, o).outcome;
      });
    case FillKind::kTexture:
      break;
  }
  return [texture](RgbPlane* work, const MaskPlane& hidden, const MaskPlane& target) {
    return TextureFill(work, target, texture, &hidden).outcome;
  };
}

AutoReport AutoFill(RgbPlane* work, const MaskPlane& mask, const AutoOptions& options) {
  if (!work) return Refuse(FillStatus::kBadArgument, "no picture to fill");
  const FillOutcome sizes = CheckSizes(work->Width(), work->Height(), mask.Width(), mask.Height());
  if (!sizes.ok()) return Refuse(sizes.status, sizes.reason);
  for (double t : options.tensions)
    if (!(std::isfinite(t) && t > 0.0))
      return Refuse(FillStatus::kBadArgument, TensionName(t) + " is not a finite number > 0");
  if (!options.membrane && !options.biharmonic && options.tensions.empty() && !options.texture)
    return Refuse(FillStatus::kBadArgument, "no candidate to choose from");
  if (options.threads < 1)
    return Refuse(FillStatus::kBadArgument,
                  "threads " + std::to_string(options.threads) + " is below 1");
  if (!(options.heldOutTolerance >= 0.0 && std::isfinite(options.heldOutTolerance)))
    return Refuse(FillStatus::kBadArgument, "held-out tolerance is not a finite number >= 0");
  if (!(options.prior.pixels >= 0.0 && std::isfinite(options.prior.pixels) &&
        options.prior.copies >= 0.0 && std::isfinite(options.prior.copies)))
    return Refuse(FillStatus::kBadArgument, "the prior is not two finite numbers >= 0");

  AutoReport report;
  try {
    const Candidates candidates = MakeCandidates(options);
    report.candidates = candidates.names;
    const int nc = int(candidates.names.size());
    HeldOutPlan plan;
    FillOutcome o = PlanHeldOut(mask, options.heldOut, &plan);
    if (!o.ok()) return Refuse(o.status, o.reason);
    const int nr = int(plan.regions.regions.size());
    for (const HeldOutRound& round : plan.rounds)
      report.separated = report.separated && round.separated;

    HeldOutScores scores;
    o = ScoreHeldOut(*work, plan, candidates.heldOut, options.threads, &scores);
    if (!o.ok()) return Refuse(o.status, o.reason);
    const HeldOutChoice choice = ChooseHeldOut(plan, scores, options.prior);
    report.overall = choice.overall;
    report.heldOutPsnr = choice.heldOutPsnr;
    report.estimatedPsnr = choice.estimatedPsnr;
    for (int c = 0; c < nc; ++c) {
      report.candidateHeldOutPsnr.push_back(PsnrOfMse(scores.PooledMse(c)));
      report.candidateEstimatedPsnr.push_back(EstimatedPsnr(plan, scores, c, options.prior));
    }
    report.regions.resize(std::size_t(nr));
    for (int r = 0; r < nr; ++r) {
      const MaskRegion& mr = plan.regions.regions[std::size_t(r)];
      const RegionChoice& rc = choice.regions[std::size_t(r)];
      report.regions[std::size_t(r)] = {mr.pixels, mr.box, rc.candidate, rc.heldOutPsnr,
                                        rc.heldOutPixels};
      report.heldOutPixels += rc.heldOutPixels;
    }
    report.single = nr ? report.regions[0].candidate : -1;
    for (const AutoRegion& r : report.regions)
      if (r.candidate != report.single) report.single = -1;

    // A mask of every pixel has nothing to fill from.
    if (nr == 0 || std::size_t(plan.regions.cells.size()) == mask.Size()) return report;

    RgbPlane result = *work, trial;
    if (result.Width() != work->Width()) throw std::bad_alloc();
    MaskPlane target;
    if (!target.Resize(mask.Width(), mask.Height())) throw std::bad_alloc();
    const int W = mask.Width();
    for (int c = 0; c < nc; ++c) {
      std::fill(target.Data(), target.Data() + target.Size(), 0);
      bool any = false;
      for (int r = 0; r < nr; ++r) {
        if (report.regions[std::size_t(r)].candidate != c) continue;
        any = true;
        const MaskRegion& mr = plan.regions.regions[std::size_t(r)];
        for (int j = 0; j < mr.pixels; ++j)
          target.Data()[plan.regions.cells[std::size_t(mr.first + j)]] = 1;
      }
      if (!any) continue;
      trial = *work;
      if (trial.Width() != work->Width()) throw std::bad_alloc();
      o = candidates.final[std::size_t(c)].restore(&trial, mask, target);
      if (!o.ok()) return Refuse(o.status, o.reason);
      for (std::size_t cell = 0; cell < target.Size(); ++cell) {
        if (!target.Data()[cell]) continue;
        const int x = int(cell % std::size_t(W)), y = int(cell / std::size_t(W));
        const double* from = trial.At(x, y);
        double* to = result.At(x, y);
        for (int ch = 0; ch < 3; ++ch) to[ch] = from[ch];
      }
    }
    work->Swap(result);
  } catch (const std::bad_alloc&) {
    return Refuse(FillStatus::kOutOfMemory, "not enough memory for the automatic fill");
  } catch (const std::length_error&) {
    return Refuse(FillStatus::kOutOfMemory, "not enough memory for the automatic fill");
  }
  return report;
}

template <typename Picture>
double EstimateHolePsnr(const Picture& damaged, const MaskPlane& mask, const Restorer& restore,
                        const HeldOutOptions& options, FillOutcome* outcome) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FillOutcome o = CheckSizes(damaged.Width(), damaged.Height(), mask.Width(), mask.Height());
  HeldOutPlan plan;
  HeldOutScores scores;
  if (o.ok()) o = PlanHeldOut(mask, options, &plan);
  if (o.ok()) {
    try {
      o = ScoreHeldOut(damaged, plan, {{"restoration", restore, 0}}, 1, &scores);
    } catch (const std::bad_alloc&) {
      o = {FillStatus::kOutOfMemory, "not enough memory for the held-out restorations"};
    }
  }
  if (outcome) *outcome = o;
  return o.ok() ? EstimatedPsnr(plan, scores, 0) : nan;
}

template double EstimateHolePsnr(const RgbPlane&, const MaskPlane&, const Restorer&,
                                 const HeldOutOptions&, FillOutcome*);
template double EstimateHolePsnr(const BytePlane&, const MaskPlane&, const Restorer&,
                                 const HeldOutOptions&, FillOutcome*);
