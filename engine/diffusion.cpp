// Diffusion step on one channel of g_work, in three W x H grids indexed [x][y] and
// stored row by row (cell y * W + x):
// channel (the values being smoothed), next (the values after an iteration) and
// weight. Region: pixels 1 <= x <= W-1, 1 <= y <= H-1 whose row flag and mask cell
// are 1. Each iteration gives every region pixel the weight 1 / (8 sqrt(gx^2 + gy^2
// + 1)) from a Sobel-type gradient /4, then replaces it by the average of its eight
// neighbours weighted by their own weight cells, the centre keeping 1 - sum. Reads
// go through ClampX/ClampY. At the start of a call the channel and next grids both
// take the channel of g_work, so cells outside the region keep their own values;
// at the end the masked pixels (row 0 and column 0 included) get floor(next)
// bounded to 0..255. The weight grid keeps its cells across calls and masks.
//
// DiffusionStepReference follows those words over the whole extent;
// DiffusionStep visits only the region and the cells it reads, with equal bits.
#include <algorithm>
#include <cmath>

#include "engine/engine.h"

namespace {
double WriteBackValue(double v) {
  if (v > 255.0) return 255.0;
  if (v < 0.0 || std::isnan(v)) return 0.0;
  return std::floor(v);
}
}  // namespace

void CRestoreEngine::DiffusionStepReference(int iterations, int channel) {
  const int W = Width(), H = Height();
  DoubleGrid& ch = m_gridChannel;
  DoubleGrid& next = m_gridNext;
  DoubleGrid& wt = m_gridWeight;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) ch[x][y] = next[x][y] = g_work[x][y][channel];
  auto V = [&](int i, int j) { return ch[ClampX(i)][ClampY(j)]; };
  auto Wt = [&](int i, int j) { return wt[ClampX(i)][ClampY(j)]; };
  for (int it = 0; it < iterations; ++it) {
    for (int y = 1; y < H; ++y) {
      if (m_pRowFlags[y] != 1) continue;
      for (int x = 1; x < W; ++x) {
        if (g_mask[x][y] != 1) continue;
        double t = V(x + 1, y + 1) + V(x + 1, y - 1);
        t = 2.0 * V(x + 1, y) + t;
        t = t - V(x - 1, y - 1);
        t = t - 2.0 * V(x - 1, y);
        t = t - V(x - 1, y + 1);
        const double gx = t * 0.25;
        double u = 2.0 * V(x, y + 1);
        u = u + V(x + 1, y + 1);
        u = u + V(x - 1, y + 1);
        u = u - V(x - 1, y - 1);
        u = u - 2.0 * V(x, y - 1);
        const double gy = (u - V(x + 1, y - 1)) * 0.25;
        double s = gy * gy + gx * gx;
        s = s + 1.0;
        const double r = std::sqrt(s) * 8.0;
        wt[x][y] = 1.0 / r;
      }
    }
    for (int y = 1; y < H; ++y) {
      if (m_pRowFlags[y] != 1) continue;
      for (int x = 1; x < W; ++x) {
        if (g_mask[x][y] != 1) continue;
        double value = 0.0, sum = 0.0;
        for (int j = y - 1; j <= y + 1; ++j)
          for (int i = x - 1; i <= x + 1; ++i) {
            if (i == x && j == y) continue;
            value = V(i, j) * Wt(i, j) + value;
            sum = sum + Wt(i, j);
          }
        value = (1.0 - sum) * ch[x][y] + value;
        next[x][y] = value;
      }
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) ch[x][y] = next[x][y];
  }
  for (int y = 0; y < H; ++y) {
    if (m_pRowFlags[y] != 1) continue;
    for (int x = 0; x < W; ++x)
      if (g_mask[x][y] == 1) g_work[x][y][channel] = WriteBackValue(next[x][y]);
  }
}

void CRestoreEngine::DiffusionStep(int iterations, int channel) {
  if (m_bReferenceKernels) {
    DiffusionStepReference(iterations, channel);
    return;
  }
  const int W = Width(), H = Height();
  if (m_diffusionCache.generation != m_nGeneration) BuildDiffusionCache();
  const DiffusionCache& cache = m_diffusionCache;
  double* const ch = m_gridChannel.Data();
  double* const next = m_gridNext.Data();
  double* const wt = m_gridWeight.Data();
  // Cells outside `load` are read by nothing in this call.
  for (const DiffusionCell& n : cache.load)
    ch[n.cell] = next[n.cell] = g_work.At(n.x, n.y)[channel];
  for (int it = 0; it < iterations; ++it) {
    for (const DiffusionCell& n : cache.region) {
      const int x = n.x, y = n.y;
      // Clamped neighbour columns and rows; the region keeps x, y in [1, W-1] x [1, H-1].
      const int xm = x - 1 <= 0 ? 1 : x - 1, xp = x + 1 >= W ? W - 1 : x + 1;
      const int ym = y - 1 <= 0 ? 1 : y - 1, yp = y + 1 >= H ? H - 1 : y + 1;
      const double* const rm = ch + std::size_t(ym) * W;
      const double* const r0 = ch + std::size_t(y) * W;
      const double* const rp = ch + std::size_t(yp) * W;
      double t = rp[xp] + rm[xp];
      t = 2.0 * r0[xp] + t;
      t = t - rm[xm];
      t = t - 2.0 * r0[xm];
      t = t - rp[xm];
      const double gx = t * 0.25;
      double u = 2.0 * rp[x];
      u = u + rp[xp];
      u = u + rp[xm];
      u = u - rm[xm];
      u = u - 2.0 * rm[x];
      const double gy = (u - rm[xp]) * 0.25;
      double s = gy * gy + gx * gx;
      s = s + 1.0;
      const double r = std::sqrt(s) * 8.0;
      wt[n.cell] = 1.0 / r;
    }
    for (const DiffusionCell& c : cache.region) {
      const int x = c.x, y = c.y;
      const int cols[3] = {x - 1 <= 0 ? 1 : x - 1, x, x + 1 >= W ? W - 1 : x + 1};
      const int rows[3] = {y - 1 <= 0 ? 1 : y - 1, y, y + 1 >= H ? H - 1 : y + 1};
      double value = 0.0, sum = 0.0;
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
          if (i == 1 && j == 1) continue;
          const std::size_t n = std::size_t(rows[j]) * W + std::size_t(cols[i]);
          value = ch[n] * wt[n] + value;
          sum = sum + wt[n];
        }
      value = (1.0 - sum) * ch[c.cell] + value;
      next[c.cell] = value;
    }
    // Outside the region next already equals channel.
    for (const DiffusionCell& c : cache.region) ch[c.cell] = next[c.cell];
  }
  for (int k = 0; k < m_nMaskCount; ++k) {
    const MaskPixel p = m_pMaskList[k];
    g_work.At(p.x, p.y)[channel] =
        WriteBackValue(next[std::size_t(p.y) * W + std::size_t(p.x)]);
  }
}

// The region in pass order (rows from the top, each from the left) and every cell
// a call reads: the region, its clamped neighbours and the masked pixels.
void CRestoreEngine::BuildDiffusionCache() {
  const int W = Width(), H = Height();
  DiffusionCache& cache = m_diffusionCache;
  cache.region.clear();
  cache.load.clear();
  std::vector<unsigned char> needed(std::size_t(W) * std::size_t(H), 0);
  auto cell = [W](int x, int y) { return std::int32_t(std::size_t(y) * W + std::size_t(x)); };
  for (int y = 1; y < H; ++y) {
    if (m_pRowFlags[y] != 1) continue;
    for (int x = 1; x < W; ++x) {
      if (g_mask[x][y] != 1) continue;
      cache.region.push_back(DiffusionCell{cell(x, y), x, y});
      for (int j = y - 1; j <= y + 1; ++j)
        for (int i = x - 1; i <= x + 1; ++i) needed[std::size_t(cell(ClampX(i), ClampY(j)))] = 1;
    }
  }
  for (int k = 0; k < m_nMaskCount; ++k)
    needed[std::size_t(cell(m_pMaskList[k].x, m_pMaskList[k].y))] = 1;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (needed[std::size_t(cell(x, y))]) cache.load.push_back(DiffusionCell{cell(x, y), x, y});
  cache.generation = m_nGeneration;
}
