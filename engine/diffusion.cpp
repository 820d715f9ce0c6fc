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
// DiffusionStep visits only the region and the cells it reads, with equal bits;
// DiffusionSteps does the three channels' calls of a block in one pass. The
// channels are independent: each call loads its own channel, and the weights it
// reads are those it computes (region) or cells no call of this mask writes.
#include <algorithm>
#include <cmath>
#include <new>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "engine/engine.h"

namespace {
double WriteBackValue(double v) {
  if (v > 255.0) return 255.0;
  if (v < 0.0 || std::isnan(v)) return 0.0;
  return std::floor(v);
}
}  // namespace

void CRestoreEngine::DiffusionStepReference(int iterations, int channel) {
  FlushDiffusionGrids();
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
  if (m_kernels.referenceKernels) {
    DiffusionStepReference(iterations, channel);
    return;
  }
  const int W = Width(), H = Height();
  if (m_diffusionCache.generation != m_nGeneration) BuildDiffusionCache();
  FlushDiffusionGrids();
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
    g_work.At(p.x, p.y)[channel] = WriteBackValue(next[std::size_t(p.y) * W + std::size_t(p.x)]);
  }
}

// The region in pass order (rows from the top, each from the left) and every cell
// a call reads: the region, its clamped neighbours and the masked pixels.
void CRestoreEngine::BuildDiffusionCache() {
  const int W = Width(), H = Height();
  DiffusionCache& cache = m_diffusionCache;
  cache.region.clear();
  cache.load.clear();
  std::vector<std::int32_t> number(std::size_t(W) * std::size_t(H), 0);  // 1 + number, or 0
  auto cell = [W](int x, int y) { return std::int32_t(std::size_t(y) * W + std::size_t(x)); };
  for (int y = 1; y < H; ++y) {
    if (m_pRowFlags[y] != 1) continue;
    for (int x = 1; x < W; ++x) {
      if (g_mask[x][y] != 1) continue;
      cache.region.push_back(DiffusionCell{cell(x, y), x, y});
      for (int j = y - 1; j <= y + 1; ++j)
        for (int i = x - 1; i <= x + 1; ++i) number[std::size_t(cell(ClampX(i), ClampY(j)))] = 1;
    }
  }
  for (int k = 0; k < m_nMaskCount; ++k)
    number[std::size_t(cell(m_pMaskList[k].x, m_pMaskList[k].y))] = 1;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (number[std::size_t(cell(x, y))]) {
        cache.load.push_back(DiffusionCell{cell(x, y), x, y});
        number[std::size_t(cell(x, y))] = std::int32_t(cache.load.size());
      }
  const auto numberOf = [&](int x, int y) { return number[std::size_t(cell(x, y))] - 1; };
  cache.regionCells.clear();
  cache.inRegion.assign(cache.load.size(), 0);
  for (const DiffusionCell& r : cache.region) {
    cache.regionCells.push_back(numberOf(r.x, r.y));
    cache.inRegion[std::size_t(numberOf(r.x, r.y))] = 1;
    for (int j = r.y - 1; j <= r.y + 1; ++j)
      for (int i = r.x - 1; i <= r.x + 1; ++i)
        if (i != r.x || j != r.y) cache.regionCells.push_back(numberOf(ClampX(i), ClampY(j)));
  }
  cache.maskedCells.resize(std::size_t(m_nMaskCount));
  for (int k = 0; k < m_nMaskCount; ++k)
    cache.maskedCells[std::size_t(k)] = numberOf(m_pMaskList[k].x, m_pMaskList[k].y);
  cache.changing = cache.maskedCells;  // a masked pixel outside the region included
  cache.steady = cache.gridsPending = cache.weightsPending = false;
  const std::size_t n = std::max<std::size_t>(cache.load.size(), 1) * 4;
  // The generation is set last: a cache left half-built by a failure is built
  // again by the next call.
  if (!cache.channel.Allocate(n) || !cache.next.Allocate(n) || !cache.weight.Allocate(n))
    throw std::bad_alloc();
  cache.generation = m_nGeneration;
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {
bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
}  // namespace

#define RV_TARGET __attribute__((target("avx2")))

// The passes of an iteration over region pixels [begin, end), each pixel's cells
// at rc[9 r] (its own, then its eight neighbours: rows y-1, y, y+1, each from the
// left, itself left out), four doubles a cell.
RV_TARGET static void WeightPass(const std::int32_t* rc, std::size_t begin, std::size_t end,
                                 const double* ch, double* wt) {
  const __m256d two = _mm256_set1_pd(2.0), quarter = _mm256_set1_pd(0.25);
  const __m256d one = _mm256_set1_pd(1.0), eight = _mm256_set1_pd(8.0);
  for (std::size_t r = begin; r < end; ++r) {
    const std::int32_t* q = rc + 9 * r;
#define RV_V(k) _mm256_load_pd(ch + 4 * std::size_t(k))
    const __m256d n0 = RV_V(q[1]), n1 = RV_V(q[2]), n2 = RV_V(q[3]), n3 = RV_V(q[4]);
    const __m256d n4 = RV_V(q[5]), n5 = RV_V(q[6]), n6 = RV_V(q[7]), n7 = RV_V(q[8]);
#undef RV_V
    __m256d t = _mm256_add_pd(n7, n2);
    t = _mm256_add_pd(_mm256_mul_pd(two, n4), t);
    t = _mm256_sub_pd(t, n0);
    t = _mm256_sub_pd(t, _mm256_mul_pd(two, n3));
    t = _mm256_sub_pd(t, n5);
    const __m256d gx = _mm256_mul_pd(t, quarter);
    __m256d u = _mm256_mul_pd(two, n6);
    u = _mm256_add_pd(u, n7);
    u = _mm256_add_pd(u, n5);
    u = _mm256_sub_pd(u, n0);
    u = _mm256_sub_pd(u, _mm256_mul_pd(two, n1));
    const __m256d gy = _mm256_mul_pd(_mm256_sub_pd(u, n2), quarter);
    __m256d s = _mm256_add_pd(_mm256_mul_pd(gy, gy), _mm256_mul_pd(gx, gx));
    s = _mm256_add_pd(s, one);
    const __m256d root = _mm256_mul_pd(_mm256_sqrt_pd(s), eight);
    _mm256_store_pd(wt + 4 * std::size_t(q[0]), _mm256_div_pd(one, root));
  }
}

RV_TARGET static void AveragePass(const std::int32_t* rc, std::size_t begin, std::size_t end,
                                  const double* ch, const double* wt, double* nx) {
  const __m256d one = _mm256_set1_pd(1.0);
  for (std::size_t r = begin; r < end; ++r) {
    const std::int32_t* q = rc + 9 * r;
    __m256d value = _mm256_setzero_pd(), sum = _mm256_setzero_pd();
    for (int k = 1; k <= 8; ++k) {
      const std::size_t at = 4 * std::size_t(q[k]);
      const __m256d w = _mm256_load_pd(wt + at);
      value = _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(ch + at), w), value);
      sum = _mm256_add_pd(sum, w);
    }
    const std::size_t c0 = 4 * std::size_t(q[0]);
    value = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, sum), _mm256_load_pd(ch + c0)), value);
    _mm256_store_pd(nx + c0, value);
  }
}

RV_TARGET static void CopyPass(const std::int32_t* rc, std::size_t begin, std::size_t end,
                               const double* nx, double* ch) {
  for (std::size_t r = begin; r < end; ++r) {
    const std::size_t c0 = 4 * std::size_t(rc[9 * r]);
    _mm256_store_pd(ch + c0, _mm256_load_pd(nx + c0));
  }
}

// Write-back of list entries [begin, end): above 255 gives 255; below 0 or not a
// number 0; else the floor.
RV_TARGET static void WriteBackPass(const std::int32_t* cells, const MaskPixel* list,
                                    std::size_t begin, std::size_t end, const double* nx,
                                    RgbPlane* work) {
  const __m256d top = _mm256_set1_pd(255.0), zero = _mm256_setzero_pd();
  for (std::size_t k = begin; k < end; ++k) {
    const __m256d v = _mm256_load_pd(nx + 4 * std::size_t(cells[k]));
    __m256d out = _mm256_floor_pd(v);
    out = _mm256_blendv_pd(out, zero, _mm256_cmp_pd(v, zero, _CMP_NGE_UQ));  // < 0 or NaN
    out = _mm256_blendv_pd(out, top, _mm256_cmp_pd(v, top, _CMP_GT_OQ));
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, out);
    double* const p = work->At(list[k].x, list[k].y);
    p[0] = lanes[0];
    p[1] = lanes[1];
    p[2] = lanes[2];
  }
}
#undef RV_TARGET

// The three channels side by side, lane c for channel c (lane 3 unused), in arrays
// of four doubles per numbered cell. Each lane performs exactly DiffusionStep's
// operations in its order. Every pass is a Jacobi one (it reads what the pass
// before wrote), so its pixels may be shared between two threads.
void CRestoreEngine::DiffusionStepsAvx2(int iterations) {
  DiffusionCache& cache = m_diffusionCache;
  double* const ch = cache.channel.data();
  double* const nx = cache.next.data();
  double* const wt = cache.weight.data();
  double* const gridWeight = m_gridWeight.Data();
  const std::size_t cells = cache.load.size();
  const auto load = [&](std::size_t i) {
    const double* p = g_work.At(cache.load[i].x, cache.load[i].y);
    ch[4 * i] = nx[4 * i] = p[0];
    ch[4 * i + 1] = nx[4 * i + 1] = p[1];
    ch[4 * i + 2] = nx[4 * i + 2] = p[2];
    ch[4 * i + 3] = nx[4 * i + 3] = 0.0;
  };
  if (!cache.steady) {
    for (std::size_t i = 0; i < cells; ++i) {
      load(i);
      // Outside the region the weights are what earlier masks left, the same for
      // all channels; the region's are computed before they are read.
      for (int c = 0; c < 4; ++c) wt[4 * i + std::size_t(c)] = gridWeight[cache.load[i].cell];
    }
    cache.steady = true;
  } else {
    // Only the masked pixels changed since the last call; the region's next
    // values and weights are computed before they are read.
    Split(cache.changing.size(), [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) load(std::size_t(cache.changing[i]));
    });
  }
  const std::int32_t* const rc = cache.regionCells.data();
  const std::size_t regionSize = cache.region.size();
  for (int it = 0; it < iterations; ++it) {
    Split(regionSize, [&](std::size_t b, std::size_t e) { WeightPass(rc, b, e, ch, wt); });
    Split(regionSize, [&](std::size_t b, std::size_t e) { AveragePass(rc, b, e, ch, wt, nx); });
    Split(regionSize, [&](std::size_t b, std::size_t e) { CopyPass(rc, b, e, nx, ch); });
  }
  Split(std::size_t(m_nMaskCount), [&](std::size_t b, std::size_t e) {
    WriteBackPass(cache.maskedCells.data(), m_pMaskList.get(), b, e, nx, &g_work);
  });
  // The grids take channel 2's cells when they are next read.
  cache.gridsPending = true;
  cache.weightsPending = cache.weightsPending || iterations > 0;
}
#else
namespace {
bool CpuHasAvx2() { return false; }
}  // namespace
void CRestoreEngine::DiffusionStepsAvx2(int) {}
#endif

// What the calls since the last flush would have left in the grids: every cell's
// channel 2 values, and the region's weights when a call with iterations computed
// them.
void CRestoreEngine::FlushDiffusionGrids() const {
  DiffusionCache& cache = m_diffusionCache;
  if (!cache.gridsPending) return;
  const bool weights = cache.weightsPending;
  cache.gridsPending = cache.weightsPending = false;
  if (cache.generation != m_nGeneration) return;  // the grids were replaced since
  double* const gridChannel = m_gridChannel.Data();
  double* const gridNext = m_gridNext.Data();
  double* const gridWeight = m_gridWeight.Data();
  const double* const ch = cache.channel.data();
  const double* const nx = cache.next.data();
  const double* const wt = cache.weight.data();
  for (std::size_t i = 0; i < cache.load.size(); ++i) {
    const std::int32_t cell = cache.load[i].cell;
    gridChannel[cell] = ch[4 * i + 2];
    gridNext[cell] = nx[4 * i + 2];
    if (weights && cache.inRegion[i]) gridWeight[cell] = wt[4 * i + 2];
  }
}

const DoubleGrid& CRestoreEngine::GridWeight() const {
  FlushDiffusionGrids();
  return m_gridWeight;
}
const DoubleGrid& CRestoreEngine::GridNext() const {
  FlushDiffusionGrids();
  return m_gridNext;
}
const DoubleGrid& CRestoreEngine::GridChannel() const {
  FlushDiffusionGrids();
  return m_gridChannel;
}

void CRestoreEngine::DiffusionSteps(int iterations) {
  if (m_kernels.referenceKernels || !m_kernels.vectorKernel || !CpuHasAvx2()) {
    for (int c = 0; c < 3; ++c) DiffusionStep(iterations, c);
    return;
  }
  if (m_diffusionCache.generation != m_nGeneration) BuildDiffusionCache();
  DiffusionStepsAvx2(iterations);
}
