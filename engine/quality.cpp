// Quality measure: PSNR in decibels of g_damaged and of g_work against g_original
// over the whole W x H extent and all three channels, peak 255. The mean squared
// error is the mean of the three per-channel means, summed blue, green, red. With
// no original of the extent loaded, the original counts as black (all zero).
//
// The damaged image and the original are bytes, each read as the double it is.
// The sums are added in scan order. When every term is a whole number (the
// original and the damaged image always are, and the masked work values are after
// every diffusion), every partial sum is a whole number below 2^53, exact in any
// order: then the unmasked pixels, whose work values no run changes, are summed
// once per loaded set and only the masked pixels at each measurement.
#include <cmath>
#include <cstdint>

#include "engine/engine.h"

namespace {
constexpr std::uint8_t kBlack[3] = {0, 0, 0};

void SetPsnr(const double* sd, const double* sr, int W, int H, CDialogFields* f) {
  const double n = double(std::uint32_t(W) * std::uint32_t(H));
  const double third = 1.0 / 3.0;
  const double mseD = ((sd[2] / n + sd[1] / n) + sd[0] / n) * third;
  const double mseR = ((sr[2] / n + sr[1] / n) + sr[0] / n) * third;
  f->m_fPsnrDamaged = float(20.0 * std::log10(255.0 / std::sqrt(mseD)));
  f->m_fPsnrResult = float(20.0 * std::log10(255.0 / std::sqrt(mseR)));
}
}  // namespace

void CRestoreEngine::MeasurePsnr() {
  const int W = Width(), H = Height();
  double sd[3] = {0.0, 0.0, 0.0};
  double sr[3] = {0.0, 0.0, 0.0};
  const bool original = HasOriginal();
  if (!m_kernels.referenceKernels && HasMask() && MaskedValuesWhole() && UnmaskedWorkWhole()) {
    QualitySums& q = m_qualitySums;
    if (q.generation != m_nGeneration || q.originalVersion != m_nOriginalVersion) {
      // The damaged image's sums, and the result's over the unmasked pixels (a
      // pixel restored under an earlier mask keeps its restored value there).
      for (int c = 0; c < 3; ++c) q.damaged[c] = q.unmasked[c] = 0.0;
      for (int y = 0; y < H; ++y) {
        const std::uint8_t* d = g_damaged.At(0, y);
        const double* w = g_work.At(0, y);
        const std::uint8_t* o = original ? g_original.At(0, y) : kBlack;
        for (int x = 0; x < W; ++x, d += 3, w += 3) {
          const bool masked = g_mask[x][y] == 1;
          for (int c = 0; c < 3; ++c) {
            const double e = double(o[c]) - double(d[c]);
            q.damaged[c] = e * e + q.damaged[c];
            const double f = double(o[c]) - w[c];
            if (!masked) q.unmasked[c] = f * f + q.unmasked[c];
          }
          if (original) o += 3;
        }
      }
      q.generation = m_nGeneration;
      q.originalVersion = m_nOriginalVersion;
    }
    for (int c = 0; c < 3; ++c) {
      sd[c] = q.damaged[c];
      sr[c] = q.unmasked[c];
    }
    for (int k = 0; k < m_nMaskCount; ++k) {
      const MaskPixel p = m_pMaskList[k];
      const double* w = g_work.At(p.x, p.y);
      const std::uint8_t* o = original ? g_original.At(p.x, p.y) : kBlack;
      for (int c = 0; c < 3; ++c) {
        const double e = double(o[c]) - w[c];
        sr[c] = e * e + sr[c];
      }
    }
  } else {
    for (int y = 0; y < H; ++y) {
      const std::uint8_t* d = g_damaged.At(0, y);
      const double* w = g_work.At(0, y);
      const std::uint8_t* o = original ? g_original.At(0, y) : kBlack;
      for (int x = 0; x < W; ++x, d += 3, w += 3) {
        for (int c = 0; c < 3; ++c) {
          const double e = double(o[c]) - double(d[c]);
          sd[c] = e * e + sd[c];
        }
        for (int c = 0; c < 3; ++c) {
          const double e = double(o[c]) - w[c];
          sr[c] = e * e + sr[c];
        }
        if (original) o += 3;
      }
    }
  }
  SetPsnr(sd, sr, W, H, &m_fields);
  ShowFields();
}

// The unmasked work values are whole unless an earlier mask's run left fractions
// there (a run without diffusion, then another mask): checked once per loaded set.
bool CRestoreEngine::UnmaskedWorkWhole() {
  QualitySums& q = m_qualitySums;
  if (q.wholeGeneration != m_nGeneration) {
    q.unmaskedWhole = true;
    const int W = Width(), H = Height();
    for (int y = 0; y < H && q.unmaskedWhole; ++y) {
      const double* w = g_work.At(0, y);
      for (int x = 0; x < W; ++x, w += 3)
        if (g_mask[x][y] != 1 &&
            (w[0] != std::floor(w[0]) || w[1] != std::floor(w[1]) || w[2] != std::floor(w[2])))
          q.unmaskedWhole = false;
    }
    q.wholeGeneration = m_nGeneration;
  }
  return q.unmaskedWhole;
}

bool CRestoreEngine::MaskedValuesWhole() const {
  for (int k = 0; k < m_nMaskCount; ++k) {
    const double* w = g_work.At(m_pMaskList[k].x, m_pMaskList[k].y);
    if (w[0] != std::floor(w[0]) || w[1] != std::floor(w[1]) || w[2] != std::floor(w[2]))
      return false;
  }
  return true;
}
