// Quality measure: PSNR in decibels of g_damaged and of g_work against g_original
// over the whole W x H extent and all three channels, peak 255. The mean squared
// error is the mean of the three per-channel means, summed blue, green, red. With
// no original of the extent loaded, the original counts as black (all zero).
#include <cmath>
#include <cstdint>

#include "engine/engine.h"

void CRestoreEngine::MeasurePsnr() {
  const int W = Width(), H = Height();
  double sd[3] = {0.0, 0.0, 0.0};
  double sr[3] = {0.0, 0.0, 0.0};
  static const double kBlack[3] = {0.0, 0.0, 0.0};
  const bool original = HasOriginal();
  for (int y = 0; y < H; ++y) {
    const double* d = g_damaged.At(0, y);
    const double* w = g_work.At(0, y);
    const double* o = original ? g_original.At(0, y) : kBlack;
    for (int x = 0; x < W; ++x, d += 3, w += 3) {
      for (int c = 0; c < 3; ++c) {
        const double e = o[c] - d[c];
        sd[c] = e * e + sd[c];
      }
      for (int c = 0; c < 3; ++c) {
        const double e = o[c] - w[c];
        sr[c] = e * e + sr[c];
      }
      if (original) o += 3;
    }
  }
  const double n = double(std::uint32_t(W) * std::uint32_t(H));
  const double third = 1.0 / 3.0;
  const double mseD = ((sd[2] / n + sd[1] / n) + sd[0] / n) * third;
  const double mseR = ((sr[2] / n + sr[1] / n) + sr[0] / n) * third;
  m_fields.m_fPsnrDamaged = float(20.0 * std::log10(255.0 / std::sqrt(mseD)));
  m_fields.m_fPsnrResult = float(20.0 * std::log10(255.0 / std::sqrt(mseR)));
  UpdateData(false);
}
