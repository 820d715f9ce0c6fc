// The automatic mode's cycles run on known pixels too, so that a run without an
// original can tell when further cycles stop helping. Known pixels are hidden under
// shifted copies of the mask (engine/holdout.h); each round of copies is a picture of
// its own (the damaged picture, the copies taking the damaged values of the pixels
// they were copied from) with a mask of its own (the real mask and the copies), run
// by an engine of its own through the same cycles as the real picture, with the same
// settings. The held-out PSNR compares the copies' restored values with the known
// ones: pooled over every round, as MaskedPsnr pools the channels.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/fill_status.h"
#include "engine/holdout.h"
#include "engine/planes.h"

class CRestoreEngine;

class CHeldOutCycles {
 public:
  CHeldOutCycles();
  ~CHeldOutCycles();
  CHeldOutCycles(const CHeldOutCycles&) = delete;
  CHeldOutCycles& operator=(const CHeldOutCycles&) = delete;

  // One engine per round of copies of `mask`, with the shown fields of `settings`
  // (each exchanged field's text read from it) and its thread count. kOutOfMemory,
  // or kOk with no round when no copy could be placed.
  FillOutcome Build(const BytePlane& damaged, const MaskPlane& mask, CRestoreEngine& settings);
  bool Empty() const { return m_rounds.empty(); }
  // One cycle of the automatic mode on every round.
  void RunCycle();
  // A run (OnRun, with the settings' shown fields) on every round, and the held-out PSNR
  // after it: an estimate of the hole PSNR of the same run on the real mask.
  double EstimateRun();
  // The PSNR (peak 255) of the held-out values against the known ones; NaN when empty.
  double Psnr() const;
  std::int64_t HeldOutPixels() const;
  // How the copies are placed: one round (edge rounds beside it for regions along
  // the picture's edge).
  static HeldOutOptions CopyOptions();

 private:
  struct Round;
  std::vector<std::unique_ptr<Round>> m_rounds;
  const BytePlane* m_damaged = nullptr;
};
