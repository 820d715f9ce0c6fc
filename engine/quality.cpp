// Quality measure: PSNR in decibels of g_damaged and of g_work against g_original
// over the whole W x H extent and all three channels, peak 255. The mean squared
// error is the mean of the three per-channel means, summed blue, green, red.
#include <cmath>
#include <cstdint>

#include "engine/engine.h"

void CRestoreEngine::MeasurePsnr() {
  const int W = Width(), H = Height();
  double sd[3] = {0.0, 0.0, 0.0};
  double sr[3] = {0.0, 0.0, 0.0};
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const double* o = g_original[x][y];
      const double* d = g_damaged[x][y];
      const double* w = g_work[x][y];
      for (int c = 0; c < 3; ++c) {
        const double e = o[c] - d[c];
        sd[c] = e * e + sd[c];
      }
      for (int c = 0; c < 3; ++c) {
        const double e = o[c] - w[c];
        sr[c] = e * e + sr[c];
      }
    }
  }
  const double n = double(std::uint32_t(W) * std::uint32_t(H));
  const double third = 1.0 / 3.0;
  const double mseD = ((sd[2] / n + sd[1] / n) + sd[0] / n) * third;
  const double mseR = ((sr[2] / n + sr[1] / n) + sr[0] / n) * third;
  m_fPsnrDamaged = float(20.0 * std::log10(255.0 / std::sqrt(mseD)));
  m_fPsnrResult = float(20.0 * std::log10(255.0 / std::sqrt(mseR)));
  UpdateData(false);
}
