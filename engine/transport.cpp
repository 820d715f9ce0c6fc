// Transport step: for every active entry of the mask list, in list order and in
// place, each channel c of g_work moves by dt x LimitTransport(s x beta), clamped
// to 0..255, where beta is the change of the Laplacian along the isophote
// (LaplacianGradient . IsophoteDirection) and s the upwind slope-limited gradient.
// Planes are [x][y][c], stored row by row (x + 1 is 3 doubles on, y + 1 a row
// stride S on); every neighbour read goes through ClampX/ClampY (index <= 0
// reads 1, index >= W reads W - 1). A Laplacian centre inside the image is read
// unclamped; one outside the image is read at (ClampX(x), ClampY(y)). A direction
// of zero norm is (0, 0), so beta is 0 and the channel stays.
//
// TransportStepReference computes the step literally through the small operations;
// TransportStep gives the same bits with the reads of interior pixels unclamped and
// the three channels of a pixel computed together.
#include <algorithm>
#include <cmath>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "engine/engine.h"

namespace {
// Squares are the correctly rounded product.
inline double Square(double v) { return v * v; }
}  // namespace

double CRestoreEngine::Laplacian(int x, int y, int c) const {
  const double left = g_work[ClampX(x - 1)][ClampY(y)][c];
  const double right = g_work[ClampX(x + 1)][ClampY(y)][c];
  const double up = g_work[ClampX(x)][ClampY(y - 1)][c];
  const double down = g_work[ClampX(x)][ClampY(y + 1)][c];
  const bool inside = x >= 0 && x < Width() && y >= 0 && y < Height();
  const double centre = inside ? g_work[x][y][c] : g_work[ClampX(x)][ClampY(y)][c];
  return (((down + (-4.0 * centre)) + up) + right) + left;
}

Vec3 CRestoreEngine::LaplacianGradient(MaskPixel p, int c) const {
  Vec3 g;
  g.x = Laplacian(p.x + 1, p.y, c) - Laplacian(p.x - 1, p.y, c);
  g.y = Laplacian(p.x, p.y + 1, c) - Laplacian(p.x, p.y - 1, c);
  return g;
}

Vec3 CRestoreEngine::IsophoteDirection(MaskPixel p, int c) const {
  const int x = p.x, y = p.y;
  double norm = 0.0, dX = 0.0, dY = 0.0;
  for (int r = 1; x + r <= Width() && y + r <= Height(); ++r) {
    dY = g_work[ClampX(x)][ClampY(y + r)][c] - g_work[ClampX(x)][ClampY(y - r)][c];
    dX = g_work[ClampX(x + r)][ClampY(y)][c] - g_work[ClampX(x - r)][ClampY(y)][c];
    norm = std::sqrt(Square(dX) + Square(dY));
    if (norm != 0.0) break;
  }
  Vec3 n;
  if (norm == 0.0) {
    n.x = 0.0;
    n.y = 0.0;
    return n;
  }
  const double inv = 1.0 / norm;
  n.x = -(inv * dY);
  n.y = inv * dX;
  return n;
}

double CRestoreEngine::DotProduct(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y; }

double CRestoreEngine::SlopeLimitedGradient(MaskPixel p, int c, double beta) const {
  const int x = p.x, y = p.y;
  const double centre = g_work[ClampX(x)][ClampY(y)][c];
  double bx = centre - g_work[ClampX(x - 1)][ClampY(y)][c];
  double fx = g_work[ClampX(x + 1)][ClampY(y)][c] - centre;
  double by = centre - g_work[ClampX(x)][ClampY(y - 1)][c];
  double fy = g_work[ClampX(x)][ClampY(y + 1)][c] - centre;
  if (beta > 0.0) {
    bx = std::min(bx, 0.0);
    fx = std::max(fx, 0.0);
    by = std::min(by, 0.0);
    fy = std::max(fy, 0.0);
  } else {
    bx = std::max(bx, 0.0);
    fx = std::min(fx, 0.0);
    by = std::max(by, 0.0);
    fy = std::min(fy, 0.0);
  }
  return std::sqrt(((Square(fy) + Square(by)) + Square(fx)) + Square(bx));
}

double CRestoreEngine::LimitTransport(double v) {
  if (v > 255.0) return 255.0;
  if (v >= -255.0) return v;
  return -255.0;
}

double CRestoreEngine::Clamp255(double v) {
  if (v > 255.0) return 255.0;
  if (v >= 0.0) return v;
  return 0.0;
}

void CRestoreEngine::TransportStepReference(int iterations, int count, double dt) {
  if (iterations < 1) return;
  count = std::min(count, m_nMaskCount);
  for (int it = 0; it < iterations; ++it) {
    for (int k = 0; k < count; ++k) {
      const MaskPixel p = m_pMaskList[k];
      if (p.active != 1) continue;
      double v[3];
      for (int c = 0; c < 3; ++c) {
        const Vec3 g = LaplacianGradient(p, c);
        const Vec3 n = IsophoteDirection(p, c);
        const double beta = DotProduct(g, n);
        const double s = SlopeLimitedGradient(p, c, beta);
        v[c] = s * beta;
      }
      double* update = &m_pUpdate[std::size_t(k) * 3];
      for (int c = 0; c < 3; ++c)
        update[c] = Clamp255(LimitTransport(v[c]) * dt + g_work[p.x][p.y][c]);
      for (int c = 0; c < 3; ++c) g_work[p.x][p.y][c] = update[c];
    }
  }
}

void CRestoreEngine::TransportStep(int iterations, int count, double dt) {
  if (m_bReferenceKernels) {
    TransportStepReference(iterations, count, dt);
    return;
  }
  if (iterations < 1) return;
  count = std::min(count, m_nMaskCount);
  for (int it = 0; it < iterations; ++it) TransportSweep(dt, count);
}

// The widening cross from radius 2 on, for a pixel whose radius-1 cross saw no
// gradient: the differences and the norm at the first radius with a non-zero norm,
// or at the last radius the right and bottom limits allow.
double CRestoreEngine::WidenDirection(int x, int y, int c, double* dX, double* dY) const {
  const int W = Width(), H = Height();
  const double* const self = g_work.At(x, y) + c;
  const std::ptrdiff_t S = std::ptrdiff_t(g_work.RowStride());
  // Up to this radius the cross stays inside [1, W-1] x [1, H-1]: no clamp acts.
  const int free = std::min(std::min(x - 1, y - 1), std::min(W - 1 - x, H - 1 - y));
  int r = 2;
  for (; r <= free; ++r) {
    const double v = self[S * r] - self[-S * r];
    const double h = self[3 * r] - self[-3 * r];
    if (v == 0.0 && h == 0.0) continue;
    const double norm = std::sqrt(Square(h) + Square(v));
    if (norm != 0.0) {
      *dX = h;
      *dY = v;
      return norm;
    }
  }
  double norm = 0.0;
  const int cx = ClampX(x), cy = ClampY(y);
  for (; x + r <= W && y + r <= H; ++r) {
    *dY = g_work[cx][ClampY(y + r)][c] - g_work[cx][ClampY(y - r)][c];
    *dX = g_work[ClampX(x + r)][cy][c] - g_work[ClampX(x - r)][cy][c];
    norm = std::sqrt(Square(*dX) + Square(*dY));
    if (norm != 0.0) break;
  }
  return norm;
}

// The transport value of channel c of pixel (x, y) from its Laplacian gradient
// (gx, gy) and its cross as the clamps read it (the pixel and its four neighbours):
// the direction from the cross (widened where it sees no gradient), beta, and the
// slope-limited gradient times beta.
static inline double TransportValue(const CRestoreEngine& e, int x, int y, int c, double gx,
                                    double gy, double mid, double left, double right, double up,
                                    double down) {
  double dY = down - up;
  double dX = right - left;
  double norm = (dX == 0.0 && dY == 0.0) ? 0.0 : std::sqrt(Square(dX) + Square(dY));
  if (norm == 0.0) norm = e.WidenDirection(x, y, c, &dX, &dY);
  double beta;
  if (norm == 0.0) {
    beta = gx * 0.0 + gy * 0.0;
  } else {
    const double inv = 1.0 / norm;
    beta = gx * -(inv * dY) + gy * (inv * dX);
  }
  // The squares of the limited one-sided differences, without branches: with
  // beta > 0 a backward difference counts where it is negative and a forward one
  // where it is positive, otherwise the other way round.
  const double bx = mid - left, fx = right - mid, by = mid - up, fy = down - mid;
  const bool rising = beta > 0.0;
  const double bx2 = (rising ? bx < 0.0 : bx > 0.0) ? bx * bx : 0.0;
  const double fx2 = (rising ? fx > 0.0 : fx < 0.0) ? fx * fx : 0.0;
  const double by2 = (rising ? by < 0.0 : by > 0.0) ? by * by : 0.0;
  const double fy2 = (rising ? fy > 0.0 : fy < 0.0) ? fy * fy : 0.0;
  return std::sqrt(((fy2 + by2) + fx2) + bx2) * beta;
}

// Transport values of the three channels of an interior pixel (3 <= x <= W - 3,
// 3 <= y <= H - 3): every clamp is the identity, every Laplacian centre is inside.
static void InteriorTransport(const CRestoreEngine& e, const double* self, std::ptrdiff_t S, int x,
                              int y, double* v) {
  const double* const l1 = self - 3;  // column x - 1
  const double* const l2 = self - 6;
  const double* const r1 = self + 3;
  const double* const r2 = self + 6;
  for (int c = 0; c < 3; ++c) {
    const double mid = self[c];
    const double left = l1[c], right = r1[c], up = self[c - S], down = self[c + S];
    // Laplacians at (x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1).
    const double lr = (((r1[c + S] + (-4.0 * right)) + r1[c - S]) + r2[c]) + mid;
    const double ll = (((l1[c + S] + (-4.0 * left)) + l1[c - S]) + mid) + l2[c];
    const double ld = (((self[c + 2 * S] + (-4.0 * down)) + mid) + r1[c + S]) + l1[c + S];
    const double lu = (((mid + (-4.0 * up)) + self[c - 2 * S]) + r1[c - S]) + l1[c - S];
    const double gx = lr - ll;
    const double gy = ld - lu;
    v[c] = TransportValue(e, x, y, c, gx, gy, mid, left, right, up, down);
  }
}

// Transport values of the three channels of a pixel near the border: the same
// arithmetic as InteriorTransport with every read through the clamps, which are
// taken once for the columns x-2 .. x+2 and the rows y-2 .. y+2.
static void BorderTransport(const CRestoreEngine& e, int x, int y, double* v) {
  const int W = e.Width(), H = e.Height();
  int cx[5], cy[5];
  for (int i = 0; i < 5; ++i) {
    cx[i] = e.ClampX(x - 2 + i);
    cy[i] = e.ClampY(y - 2 + i);
  }
  for (int c = 0; c < 3; ++c) {
    const RgbPlane& plane = e.g_work;
    const auto I = [&plane, c](int i, int j) { return plane.At(i, j)[c]; };
    // A Laplacian centre outside the image is read at its clamped position.
    const double cRight = x + 1 < W ? I(x + 1, y) : I(cx[3], cy[2]);
    const double cLeft = x - 1 >= 0 ? I(x - 1, y) : I(cx[1], cy[2]);
    const double cDown = y + 1 < H ? I(x, y + 1) : I(cx[2], cy[3]);
    const double cUp = y - 1 >= 0 ? I(x, y - 1) : I(cx[2], cy[1]);
    const double lr =
        (((I(cx[3], cy[3]) + (-4.0 * cRight)) + I(cx[3], cy[1])) + I(cx[4], cy[2])) +
        I(cx[2], cy[2]);
    const double ll =
        (((I(cx[1], cy[3]) + (-4.0 * cLeft)) + I(cx[1], cy[1])) + I(cx[2], cy[2])) +
        I(cx[0], cy[2]);
    const double ld =
        (((I(cx[2], cy[4]) + (-4.0 * cDown)) + I(cx[2], cy[2])) + I(cx[3], cy[3])) +
        I(cx[1], cy[3]);
    const double lu =
        (((I(cx[2], cy[2]) + (-4.0 * cUp)) + I(cx[2], cy[0])) + I(cx[3], cy[1])) +
        I(cx[1], cy[1]);
    const double gx = lr - ll;
    const double gy = ld - lu;
    const double mid = I(cx[2], cy[2]);
    const double left = I(cx[1], cy[2]), right = I(cx[3], cy[2]);
    const double up = I(cx[2], cy[1]), down = I(cx[2], cy[3]);
    v[c] = TransportValue(e, x, y, c, gx, gy, mid, left, right, up, down);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same for processors with AVX2: the three channels side by side in one vector
// (the fourth lane is loaded as 0 and ignored). Every lane performs exactly the
// scalar operations in the same order, so the results are the same bits.
#define RV_TARGET __attribute__((target("avx2")))
#define RV_LOAD(p) _mm256_maskload_pd((p), lanes)
// It also applies the update: the three new values go to `update` and the pixel.
RV_TARGET static void InteriorUpdateAvx2(const CRestoreEngine& e, double* self, std::ptrdiff_t S,
                                         int x, int y, double dt, double* update) {
  const __m256i lanes = _mm256_setr_epi64x(-1, -1, -1, 0);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d minus4 = _mm256_set1_pd(-4.0);
  const __m256d sign = _mm256_set1_pd(-0.0);
  const double* const l1 = self - 3;
  const double* const l2 = self - 6;
  const double* const r1 = self + 3;
  const double* const r2 = self + 6;
  const __m256d mid = RV_LOAD(self), left = RV_LOAD(l1), right = RV_LOAD(r1);
  const __m256d up = RV_LOAD(self - S), down = RV_LOAD(self + S);
  const __m256d l1d = RV_LOAD(l1 + S), l1u = RV_LOAD(l1 - S);
  const __m256d r1d = RV_LOAD(r1 + S), r1u = RV_LOAD(r1 - S);
  __m256d lr = _mm256_add_pd(r1d, _mm256_mul_pd(minus4, right));
  lr = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(lr, r1u), RV_LOAD(r2)), mid);
  __m256d ll = _mm256_add_pd(l1d, _mm256_mul_pd(minus4, left));
  ll = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(ll, l1u), mid), RV_LOAD(l2));
  __m256d ld = _mm256_add_pd(RV_LOAD(self + 2 * S), _mm256_mul_pd(minus4, down));
  ld = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(ld, mid), r1d), l1d);
  __m256d lu = _mm256_add_pd(mid, _mm256_mul_pd(minus4, up));
  lu = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(lu, RV_LOAD(self - 2 * S)), r1u), l1u);
  const __m256d gx = _mm256_sub_pd(lr, ll);
  const __m256d gy = _mm256_sub_pd(ld, lu);
  __m256d dY = _mm256_sub_pd(down, up);
  __m256d dX = _mm256_sub_pd(right, left);
  __m256d norm = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dX, dX), _mm256_mul_pd(dY, dY)));
  const int flat = _mm256_movemask_pd(_mm256_cmp_pd(norm, zero, _CMP_EQ_OQ)) & 7;
  if (flat != 0) {
    alignas(32) double n[4], h[4], w[4];
    _mm256_store_pd(n, norm);
    _mm256_store_pd(h, dX);
    _mm256_store_pd(w, dY);
    for (int c = 0; c < 3; ++c)
      if (flat & (1 << c)) n[c] = e.WidenDirection(x, y, c, &h[c], &w[c]);
    norm = _mm256_load_pd(n);
    dX = _mm256_load_pd(h);
    dY = _mm256_load_pd(w);
  }
  const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), norm);
  const __m256d along = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_xor_pd(_mm256_mul_pd(inv, dY), sign)),
                                      _mm256_mul_pd(gy, _mm256_mul_pd(inv, dX)));
  const __m256d still = _mm256_add_pd(_mm256_mul_pd(gx, zero), _mm256_mul_pd(gy, zero));
  const __m256d beta = _mm256_blendv_pd(along, still, _mm256_cmp_pd(norm, zero, _CMP_EQ_OQ));
  const __m256d rising = _mm256_cmp_pd(beta, zero, _CMP_GT_OQ);
  const __m256d bx = _mm256_sub_pd(mid, left), fx = _mm256_sub_pd(right, mid);
  const __m256d by = _mm256_sub_pd(mid, up), fy = _mm256_sub_pd(down, mid);
  // While rising, negative backward and positive forward differences count; else
  // the other way round. A difference that does not count squares to +0.
  const __m256d bx2 = _mm256_and_pd(_mm256_blendv_pd(_mm256_cmp_pd(bx, zero, _CMP_GT_OQ),
                                                     _mm256_cmp_pd(bx, zero, _CMP_LT_OQ), rising),
                                    _mm256_mul_pd(bx, bx));
  const __m256d fx2 = _mm256_and_pd(_mm256_blendv_pd(_mm256_cmp_pd(fx, zero, _CMP_LT_OQ),
                                                     _mm256_cmp_pd(fx, zero, _CMP_GT_OQ), rising),
                                    _mm256_mul_pd(fx, fx));
  const __m256d by2 = _mm256_and_pd(_mm256_blendv_pd(_mm256_cmp_pd(by, zero, _CMP_GT_OQ),
                                                     _mm256_cmp_pd(by, zero, _CMP_LT_OQ), rising),
                                    _mm256_mul_pd(by, by));
  const __m256d fy2 = _mm256_and_pd(_mm256_blendv_pd(_mm256_cmp_pd(fy, zero, _CMP_LT_OQ),
                                                     _mm256_cmp_pd(fy, zero, _CMP_GT_OQ), rising),
                                    _mm256_mul_pd(fy, fy));
  const __m256d s =
      _mm256_sqrt_pd(_mm256_add_pd(_mm256_add_pd(_mm256_add_pd(fy2, by2), fx2), bx2));
  const __m256d transport = _mm256_mul_pd(s, beta);
  // LimitTransport, then Clamp255 of limited x dt + the pixel's own value.
  const __m256d top = _mm256_set1_pd(255.0), bottom = _mm256_set1_pd(-255.0);
  __m256d limited = _mm256_blendv_pd(bottom, transport,
                                     _mm256_cmp_pd(transport, bottom, _CMP_GE_OQ));
  limited = _mm256_blendv_pd(limited, top, _mm256_cmp_pd(transport, top, _CMP_GT_OQ));
  const __m256d moved = _mm256_add_pd(_mm256_mul_pd(limited, _mm256_set1_pd(dt)), mid);
  __m256d value = _mm256_blendv_pd(zero, moved, _mm256_cmp_pd(moved, zero, _CMP_GE_OQ));
  value = _mm256_blendv_pd(value, top, _mm256_cmp_pd(moved, top, _CMP_GT_OQ));
  _mm256_maskstore_pd(update, lanes, value);
  _mm256_maskstore_pd(self, lanes, value);
}
#undef RV_LOAD
#undef RV_TARGET

static bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
static void InteriorUpdateAvx2(const CRestoreEngine&, double*, std::ptrdiff_t, int, int, double,
                               double*) {}
static bool CpuHasAvx2() { return false; }
#endif

// One iteration over the first `count` list entries.
void CRestoreEngine::TransportSweep(double dt, int count) {
  const int W = Width(), H = Height();
  const bool vector = m_bVectorKernel && CpuHasAvx2();
  double* const plane = g_work.Data();
  const std::ptrdiff_t S = std::ptrdiff_t(g_work.RowStride());
  for (int k = 0; k < count; ++k) {
    const MaskPixel p = m_pMaskList[k];
    if (p.active != 1) continue;
    const int x = p.x, y = p.y;
    double* const self = plane + std::ptrdiff_t(y) * S + std::ptrdiff_t(x) * 3;
    double* const update = &m_pUpdate[std::size_t(k) * 3];
    double v[3];
    if (x >= 3 && x <= W - 3 && y >= 3 && y <= H - 3) {
      if (vector) {
        InteriorUpdateAvx2(*this, self, S, x, y, dt, update);
        continue;
      }
      InteriorTransport(*this, self, S, x, y, v);
    } else {
      BorderTransport(*this, x, y, v);
    }
    for (int c = 0; c < 3; ++c) update[c] = Clamp255(LimitTransport(v[c]) * dt + self[c]);
    for (int c = 0; c < 3; ++c) self[c] = update[c];
  }
}
