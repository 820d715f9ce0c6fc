#include "engine/held_out_cycles.h"

#include <cmath>
#include <limits>
#include <new>

#include "engine/engine.h"
#include "engine/fields.h"

struct CHeldOutCycles::Round {
  CRestoreEngine engine;
  PixelBox crop;
  std::vector<std::int32_t> targets;  // y * width + x of the held-out pixels, in the crop
};

HeldOutOptions CHeldOutCycles::CopyOptions() {
  HeldOutOptions o;
  // One round: each round is an engine with twice the masked pixels, so its cycles cost
  // twice the real picture's; a stopping rule needs the trend, not a fine figure.
  o.rounds = 1;
  return o;
}

CHeldOutCycles::CHeldOutCycles() = default;
CHeldOutCycles::~CHeldOutCycles() = default;

FillOutcome CHeldOutCycles::Build(const BytePlane& damaged, const MaskPlane& mask,
                                  CRestoreEngine& settings) {
  m_rounds.clear();
  m_damaged = &damaged;
  const FillOutcome noMemory{FillStatus::kOutOfMemory,
                             "not enough memory for the held-out copies of the mask"};
  try {
    HeldOutPlan plan;
    const FillOutcome planned = PlanHeldOut(mask, CopyOptions(), &plan);
    if (!planned.ok()) return planned;
    for (std::size_t r = 0; r < plan.rounds.size(); ++r) {
      const HeldOutRound& k = plan.rounds[r];
      auto round = std::make_unique<Round>();
      round->crop = k.crop;
      const int w = k.crop.x1 - k.crop.x0, h = k.crop.y1 - k.crop.y0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (k.target.At(x, y)) round->targets.push_back(y * w + x);
      if (round->targets.empty()) continue;
      BytePlane picture;
      if (!HeldOutPicture(damaged, plan, r, &picture)) {
        m_rounds.clear();
        return noMemory;
      }
      const std::size_t stride = picture.RowStride();
      std::vector<std::uint8_t> cells(stride * std::size_t(h), 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          cells[std::size_t(y) * stride + std::size_t(x) * 3] = k.hidden.At(x, y) ? 255 : 0;
      CRestoreEngine& e = round->engine;
      e.SetShownFields(settings.ShownFields());
      e.SetKernels(settings.Kernels());
      if (!e.ReadDamagedPixels(BytesOf(picture))) {
        m_rounds.clear();
        return noMemory;
      }
      if (e.BuildMaskList(PixelBytes{w, h, cells.data(), stride}) < 0) {
        m_rounds.clear();
        return noMemory;
      }
      if (settings.StartedFromFill() && !e.StartFromMembraneFill()) {
        m_rounds.clear();
        return noMemory;
      }
      m_rounds.push_back(std::move(round));
    }
  } catch (const std::bad_alloc&) {
    m_rounds.clear();
    return noMemory;
  }
  return {};
}

void CHeldOutCycles::RunCycle() {
  for (auto& round : m_rounds) round->engine.RunCycle();
}

double CHeldOutCycles::EstimateRun() {
  for (auto& round : m_rounds) round->engine.OnRun();
  return Psnr();
}

double CHeldOutCycles::Psnr() const {
  double squares = 0.0;
  std::int64_t n = 0;
  for (const auto& round : m_rounds) {
    const int w = round->crop.x1 - round->crop.x0;
    for (const std::int32_t cell : round->targets) {
      const int x = cell % w, y = cell / w;
      const double* got = round->engine.g_work.At(x, y);
      const std::uint8_t* known = m_damaged->At(round->crop.x0 + x, round->crop.y0 + y);
      for (int c = 0; c < 3; ++c) {
        const double e = got[c] - double(known[c]);
        squares += e * e;
      }
    }
    n += std::int64_t(round->targets.size());
  }
  if (n == 0) return std::numeric_limits<double>::quiet_NaN();
  return PsnrOfMse(squares / (3.0 * double(n)));
}

std::int64_t CHeldOutCycles::HeldOutPixels() const {
  std::int64_t n = 0;
  for (const auto& round : m_rounds) n += std::int64_t(round->targets.size());
  return n;
}
