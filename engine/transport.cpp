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
// TransportStepReference computes the step literally through the small operations.
// TransportStep gives the same bits faster:
// - interior pixels read their neighbours unclamped, the three channels together
//   (side by side in an AVX2 vector where the processor has it);
// - a cross that sees no gradient widens by the runs of equal values along its row
//   and column (CFlatRuns), not one radius at a time;
// - pixels of different rows are computed side by side where that cannot change
//   what either reads: a row takes its next pixel only once every row above it has
//   passed that pixel's column by three, so each pixel still sees exactly the
//   values of the pixels before it in list order and none of those after (the
//   stencil reaches two columns and two rows, the cross runs along the pixel's own
//   row and column). Row 0 goes first and alone: its clamped reads see row 1.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "engine/engine.h"
#include "engine/flat_runs.h"

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
    if (m_bStepStoppable && StopRequested()) {
      m_nStepSweeps = it;
      return;
    }
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
  if (m_kernels.referenceKernels) {
    TransportStepReference(iterations, count, dt);
    return;
  }
  if (iterations < 1) return;
  count = std::min(count, m_nMaskCount);
  if (count < 1) return;
  // Anything may have written the plane since the last call.
  m_flatRuns.Reset(g_work);
  BuildRowSegments(count);
  for (int it = 0; it < iterations; ++it) {
    if (m_bStepStoppable && StopRequested()) {
      m_nStepSweeps = it;
      return;
    }
    TransportSweep(dt, count);
  }
}

// Where the cross of (x, y) in channel c stops widening. Radius 1 saw no gradient
// (its differences are in *dX and *dY); between the radii at which one of the four
// arms reaches a new run of equal values the differences, and so the norm, cannot
// change, so only those radii are computed. Returns the norm at the first radius
// with a non-zero norm (with its differences), or 0 when the right or bottom limit
// comes first.
double CRestoreEngine::WidenDirection(int x, int y, int c, double* dX, double* dY) {
  const int W = Width(), H = Height();
  const int rmax = std::min(W - x, H - y);
  if (rmax < 2) return 0.0;
  const int cx = ClampX(x), cy = ClampY(y);
  const auto cross = [&](int r) {
    *dY = g_work[cx][ClampY(y + r)][c] - g_work[cx][ClampY(y - r)][c];
    *dX = g_work[ClampX(x + r)][cy][c] - g_work[ClampX(x - r)][cy][c];
    return std::sqrt(Square(*dX) + Square(*dY));
  };
  // Most crosses see a gradient within a few radii (a scratch is a few pixels
  // wide); those are cheapest read directly, without the clamps while the cross
  // stays inside [1, W-1] x [1, H-1].
  constexpr int kDirectRadii = 6;
  const int direct = m_flatRuns.Built(c, cx, cy) ? 1 : std::min(rmax, kDirectRadii);
  const int free = std::min(std::min(x - 1, y - 1), std::min(W - 1 - x, H - 1 - y));
  const double* const self = g_work.At(x, y) + c;
  const std::ptrdiff_t S = std::ptrdiff_t(g_work.RowStride());
  for (int r = 2; r <= direct; ++r) {
    double norm;
    if (r <= free) {
      *dY = self[S * r] - self[-S * r];
      *dX = self[3 * r] - self[-3 * r];
      norm = std::sqrt(Square(*dX) + Square(*dY));
    } else {
      norm = cross(r);
    }
    if (norm != 0.0) return norm;
  }
  if (rmax <= direct) return 0.0;
  CFlatRuns& runs = m_flatRuns;
  for (int r = std::max(direct, 1);;) {
    // The arms read rows min(y + r, H - 1) and max(y - r, 1) of column cx, and
    // columns min(x + r, W - 1) and max(x - r, 1) of row cy.
    int next = CFlatRuns::kNone;
    const int down = std::min(y + r, H - 1);
    if (down < H - 1) {
      const int b = runs.NextInColumn(c, cx, down + 1);
      if (b != CFlatRuns::kNone) next = std::min(next, b - y);
    }
    const int up = std::max(y - r, 1);
    if (up > 1) {
      const int b = runs.PrevInColumn(c, cx, up, 2);
      if (b >= 0) next = std::min(next, y - b + 1);
    }
    const int right = std::min(x + r, W - 1);
    if (right < W - 1) {
      const int b = runs.NextInRow(c, cy, right + 1);
      if (b != CFlatRuns::kNone) next = std::min(next, b - x);
    }
    const int left = std::max(x - r, 1);
    if (left > 1) {
      const int b = runs.PrevInRow(c, cy, left, 2);
      if (b >= 0) next = std::min(next, x - b + 1);
    }
    if (next > rmax) return 0.0;
    r = next;
    const double norm = cross(r);
    if (norm != 0.0) return norm;
  }
}

// Without a Laplacian gradient beta is a zero whatever the direction (+0 or -0, as
// the direction's signs give), and so is the transport value; a zero of either sign
// added to the pixel's value leaves it as it is unless that value is -0. Then the
// cross need not widen (deep in a flat hole, the common case, it would widen to the
// hole's edge).
static inline bool NoGradient(double gx, double gy, double mid) {
  return gx == 0.0 && gy == 0.0 && !std::signbit(mid);
}

// The transport value of channel c of pixel (x, y) from its Laplacian gradient
// (gx, gy) and its cross as the clamps read it (the pixel and its four neighbours):
// the direction from the cross (widened where it sees no gradient), beta, and the
// slope-limited gradient times beta.
static inline double TransportValue(CRestoreEngine& e, int x, int y, int c, double gx, double gy,
                                    double mid, double left, double right, double up, double down) {
  double dY = down - up;
  double dX = right - left;
  double norm = std::sqrt(Square(dX) + Square(dY));
  if (norm == 0.0 && !NoGradient(gx, gy, mid)) norm = e.WidenDirection(x, y, c, &dX, &dY);
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
static void InteriorTransport(CRestoreEngine& e, const double* self, std::ptrdiff_t S, int x, int y,
                              double* v) {
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
static void BorderTransport(CRestoreEngine& e, int x, int y, double* v) {
  const int W = e.Width(), H = e.Height();
  int cx[5], cy[5];
  for (int i = 0; i < 5; ++i) {
    cx[i] = e.ClampX(x - 2 + i);
    cy[i] = e.ClampY(y - 2 + i);
  }
  const RgbPlane& plane = e.g_work;
  for (int c = 0; c < 3; ++c) {
    const auto I = [&plane, c](int i, int j) { return plane.At(i, j)[c]; };
    // The Laplacian at (i, j) from its clamped neighbours; a centre outside the
    // image is read at its clamped position.
    const auto L = [&](int i, int j) {
      const bool inside = x - 2 + i >= 0 && x - 2 + i < W && y - 2 + j >= 0 && y - 2 + j < H;
      const double centre = inside ? I(x - 2 + i, y - 2 + j) : I(cx[i], cy[j]);
      return (((I(cx[i], cy[j + 1]) + (-4.0 * centre)) + I(cx[i], cy[j - 1])) +
              I(cx[i + 1], cy[j])) +
             I(cx[i - 1], cy[j]);
    };
    const double gx = L(3, 2) - L(1, 2);
    const double gy = L(2, 3) - L(2, 1);
    const double mid = I(cx[2], cy[2]);
    const double left = I(cx[1], cy[2]), right = I(cx[3], cy[2]);
    const double up = I(cx[2], cy[1]), down = I(cx[2], cy[3]);
    v[c] = TransportValue(e, x, y, c, gx, gy, mid, left, right, up, down);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same for processors with AVX2: the three channels side by side in one vector;
// the fourth lane reads whatever lies next in memory (always inside the plane for
// an interior pixel) and is never stored. Every lane performs exactly the scalar
// operations in the same order, so the results are the same bits.
#define RV_TARGET __attribute__((target("avx2")))
#define RV_INLINE __attribute__((target("avx2"), always_inline)) inline

// The new values of an interior pixel's three channels (lane 3 unspecified).
RV_INLINE static __m256d InteriorValueAvx2(CRestoreEngine& e, const double* self, std::ptrdiff_t S,
                                           int x, int y, __m256d dt) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d minus4 = _mm256_set1_pd(-4.0);
  const __m256d sign = _mm256_set1_pd(-0.0);
  const double* const l1 = self - 3;
  const double* const r1 = self + 3;
  const __m256d mid = _mm256_loadu_pd(self), left = _mm256_loadu_pd(l1),
                right = _mm256_loadu_pd(r1);
  const __m256d up = _mm256_loadu_pd(self - S), down = _mm256_loadu_pd(self + S);
  const __m256d l1d = _mm256_loadu_pd(l1 + S), l1u = _mm256_loadu_pd(l1 - S);
  const __m256d r1d = _mm256_loadu_pd(r1 + S), r1u = _mm256_loadu_pd(r1 - S);
  __m256d lr = _mm256_add_pd(r1d, _mm256_mul_pd(minus4, right));
  lr = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(lr, r1u), _mm256_loadu_pd(self + 6)), mid);
  __m256d ll = _mm256_add_pd(l1d, _mm256_mul_pd(minus4, left));
  ll = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(ll, l1u), mid), _mm256_loadu_pd(self - 6));
  __m256d ld = _mm256_add_pd(_mm256_loadu_pd(self + 2 * S), _mm256_mul_pd(minus4, down));
  ld = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(ld, mid), r1d), l1d);
  __m256d lu = _mm256_add_pd(mid, _mm256_mul_pd(minus4, up));
  lu = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(lu, _mm256_loadu_pd(self - 2 * S)), r1u), l1u);
  const __m256d gx = _mm256_sub_pd(lr, ll);
  const __m256d gy = _mm256_sub_pd(ld, lu);
  __m256d dY = _mm256_sub_pd(down, up);
  __m256d dX = _mm256_sub_pd(right, left);
  __m256d norm = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dX, dX), _mm256_mul_pd(dY, dY)));
  const int flat = _mm256_movemask_pd(_mm256_cmp_pd(norm, zero, _CMP_EQ_OQ)) & 7;
  __m256d beta;
  if (__builtin_expect(flat == 0, 1)) {
    const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), norm);
    beta = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_xor_pd(_mm256_mul_pd(inv, dY), sign)),
                         _mm256_mul_pd(gy, _mm256_mul_pd(inv, dX)));
  } else {
    alignas(32) double n[4], h[4], w[4], a[4], b[4], m[4];
    _mm256_store_pd(n, norm);
    _mm256_store_pd(h, dX);
    _mm256_store_pd(w, dY);
    _mm256_store_pd(a, gx);
    _mm256_store_pd(b, gy);
    _mm256_store_pd(m, mid);
    for (int c = 0; c < 3; ++c)
      if ((flat & (1 << c)) && !NoGradient(a[c], b[c], m[c]))
        n[c] = e.WidenDirection(x, y, c, &h[c], &w[c]);
    norm = _mm256_load_pd(n);
    dX = _mm256_load_pd(h);
    dY = _mm256_load_pd(w);
    const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), norm);
    const __m256d along =
        _mm256_add_pd(_mm256_mul_pd(gx, _mm256_xor_pd(_mm256_mul_pd(inv, dY), sign)),
                      _mm256_mul_pd(gy, _mm256_mul_pd(inv, dX)));
    const __m256d still = _mm256_add_pd(_mm256_mul_pd(gx, zero), _mm256_mul_pd(gy, zero));
    beta = _mm256_blendv_pd(along, still, _mm256_cmp_pd(norm, zero, _CMP_EQ_OQ));
  }
  // The slope-limited gradient for either sign of beta, both computed while beta
  // is: which one counts is known only at the end.
  const __m256d bx = _mm256_sub_pd(mid, left), fx = _mm256_sub_pd(right, mid);
  const __m256d by = _mm256_sub_pd(mid, up), fy = _mm256_sub_pd(down, mid);
  const __m256d bxx = _mm256_mul_pd(bx, bx), fxx = _mm256_mul_pd(fx, fx);
  const __m256d byy = _mm256_mul_pd(by, by), fyy = _mm256_mul_pd(fy, fy);
  // While rising, negative backward and positive forward differences count; else
  // the other way round. A difference that does not count squares to +0.
  const __m256d bxLow = _mm256_cmp_pd(bx, zero, _CMP_LT_OQ),
                bxHigh = _mm256_cmp_pd(bx, zero, _CMP_GT_OQ);
  const __m256d fxLow = _mm256_cmp_pd(fx, zero, _CMP_LT_OQ),
                fxHigh = _mm256_cmp_pd(fx, zero, _CMP_GT_OQ);
  const __m256d byLow = _mm256_cmp_pd(by, zero, _CMP_LT_OQ),
                byHigh = _mm256_cmp_pd(by, zero, _CMP_GT_OQ);
  const __m256d fyLow = _mm256_cmp_pd(fy, zero, _CMP_LT_OQ),
                fyHigh = _mm256_cmp_pd(fy, zero, _CMP_GT_OQ);
  const __m256d up2 = _mm256_sqrt_pd(_mm256_add_pd(
      _mm256_add_pd(_mm256_add_pd(_mm256_and_pd(fyHigh, fyy), _mm256_and_pd(byLow, byy)),
                    _mm256_and_pd(fxHigh, fxx)),
      _mm256_and_pd(bxLow, bxx)));
  const __m256d down2 = _mm256_sqrt_pd(_mm256_add_pd(
      _mm256_add_pd(_mm256_add_pd(_mm256_and_pd(fyLow, fyy), _mm256_and_pd(byHigh, byy)),
                    _mm256_and_pd(fxLow, fxx)),
      _mm256_and_pd(bxHigh, bxx)));
  const __m256d rising = _mm256_cmp_pd(beta, zero, _CMP_GT_OQ);
  const __m256d s = _mm256_blendv_pd(down2, up2, rising);
  const __m256d transport = _mm256_mul_pd(s, beta);
  // LimitTransport, then Clamp255 of limited x dt + the pixel's own value.
  const __m256d top = _mm256_set1_pd(255.0), bottom = _mm256_set1_pd(-255.0);
  __m256d limited =
      _mm256_blendv_pd(bottom, transport, _mm256_cmp_pd(transport, bottom, _CMP_GE_OQ));
  limited = _mm256_blendv_pd(limited, top, _mm256_cmp_pd(transport, top, _CMP_GT_OQ));
  const __m256d moved = _mm256_add_pd(_mm256_mul_pd(limited, dt), mid);
  __m256d value = _mm256_blendv_pd(zero, moved, _mm256_cmp_pd(moved, zero, _CMP_GE_OQ));
  return _mm256_blendv_pd(value, top, _mm256_cmp_pd(moved, top, _CMP_GT_OQ));
}

// Stores the three channels of `value` into the pixel (its fourth lane keeps the
// next pixel's first channel as it was) and into its update entry; the channels
// that changed (bit c for channel c).
RV_INLINE static int StoreAvx2(double* self, double* update, __m256d value) {
  const __m256i three = _mm256_setr_epi64x(-1, -1, -1, 0);
  _mm256_maskstore_pd(update, three, value);
  const __m256d was = _mm256_loadu_pd(self);
  _mm256_storeu_pd(self, _mm256_blend_pd(value, was, 0x8));
  return _mm256_movemask_pd(_mm256_cmp_pd(value, was, _CMP_NEQ_UQ)) & 7;
}

RV_TARGET static int InteriorUpdateAvx2(CRestoreEngine& e, double* self, std::ptrdiff_t S, int x,
                                        int y, double dt, double* update) {
  return StoreAvx2(self, update, InteriorValueAvx2(e, self, S, x, y, _mm256_set1_pd(dt)));
}

// Two pixels that do not read each other, computed side by side so that their
// chains of dependent operations overlap.
// Several pixels none of which reads another, computed side by side so that their
// chains of dependent operations overlap; the channels of pixel i that changed in
// bits 3i .. 3i + 2 of the result.
template <int N>
RV_TARGET static int InteriorGroupAvx2(CRestoreEngine& e, double* const* self, const int* xs,
                                       const int* ys, double* const* update, std::ptrdiff_t S,
                                       double dt) {
  const __m256d dtv = _mm256_set1_pd(dt);
  __m256d value[N];
#pragma GCC unroll 4
  for (int i = 0; i < N; ++i) value[i] = InteriorValueAvx2(e, self[i], S, xs[i], ys[i], dtv);
  int changed = 0;
#pragma GCC unroll 4
  for (int i = 0; i < N; ++i) changed |= StoreAvx2(self[i], update[i], value[i]) << (3 * i);
  return changed;
}
#undef RV_INLINE
#undef RV_TARGET

static bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
static int InteriorUpdateAvx2(CRestoreEngine&, double*, std::ptrdiff_t, int, int, double, double*) {
  return 0;
}
template <int N>
static int InteriorGroupAvx2(CRestoreEngine&, double* const*, const int*, const int*,
                             double* const*, std::ptrdiff_t, double) {
  return 0;
}
static bool CpuHasAvx2() { return false; }
#endif

// The rows of the first `count` entries, and what every sweep of this call asks of
// an entry: its column, where its pixel is, whether the interior kernel takes it.
void CRestoreEngine::BuildRowSegments(int count) {
  m_rowSegments.clear();
  for (int k = 0; k < count;) {
    const int y = m_pMaskList[k].y;
    int end = k + 1;
    while (end < count && m_pMaskList[end].y == y) ++end;
    m_rowSegments.push_back(RowSegment{k, end});
    k = end;
  }
  m_sweepX.resize(std::size_t(count));
  m_sweepOffset.resize(std::size_t(count));
  m_sweepInterior.resize(std::size_t(count));
  for (int k = 0; k < count; ++k) {
    const MaskPixel p = m_pMaskList[k];
    m_sweepX[std::size_t(k)] = p.x;
    m_sweepOffset[std::size_t(k)] = std::int32_t((std::size_t(p.y) * Width() + p.x) * 3);
    m_sweepInterior[std::size_t(k)] = p.active == 1 && IsInterior(p.x, p.y);
  }
  m_soloPlan.built = m_sharedPlan.built = false;
}

// The rule of a band: a row takes its next pixel once every row above it in the
// band has passed that pixel's column by three; then no cell the pixel reads (the
// stencil, its row, its column) is one a row of the band writes later in the
// sweep's order, nor one written earlier and not yet. Up to kBand rows go side by
// side; a finished row makes room for the next.
void CRestoreEngine::PlanRows(std::size_t begin, std::size_t end, SweepPlan* plan) const {
  const std::vector<RowSegment>& rows = m_rowSegments;
  RowSegment band[kBand];
  int n = 0;
  std::size_t next = begin;
  for (;;) {
    while (n < kBand && next < end) band[n++] = rows[next++];
    if (n == 0) break;
    SweepRound round{std::int32_t(plan->pixels.size()), 0, 0, CFlatRuns::kNone};
    bool ready[kBand];
    int limit = CFlatRuns::kNone;
    for (int i = 0; i < n; ++i) {
      const int x = m_sweepX[std::size_t(band[i].begin)];
      ready[i] = limit == CFlatRuns::kNone || x + 3 <= limit;
      if (ready[i]) {
        plan->pixels.push_back(band[i].begin);
        // The band above (another thread's) must have passed it by four.
        round.need = std::max(round.need, x + 4);
      }
      limit = std::min(limit, x);
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
      if (ready[i]) ++band[i].begin;
      if (band[i].begin < band[i].end) {
        round.frontier = std::min(round.frontier, m_sweepX[std::size_t(band[i].begin)]);
        band[kept++] = band[i];
      }
    }
    n = kept;
    // Rows not yet in the band have not started.
    if (next < end)
      round.frontier = std::min(round.frontier, m_sweepX[std::size_t(rows[next].begin)]);
    round.size = std::int32_t(plan->pixels.size()) - round.first;
    plan->rounds.push_back(round);
  }
}

const CRestoreEngine::SweepPlan& CRestoreEngine::Plan(bool shared, std::size_t first) {
  SweepPlan& plan = shared ? m_sharedPlan : m_soloPlan;
  if (plan.built) return plan;
  const std::size_t rows = m_rowSegments.size();
  plan.pixels.clear();
  plan.rounds.clear();
  plan.bands.assign(1, 0);
  const std::size_t step = shared ? std::size_t(kThreadBand) : rows;
  for (std::size_t begin = first; begin < rows; begin += step) {
    PlanRows(begin, std::min(rows, begin + step), &plan);
    plan.bands.push_back(plan.rounds.size());
  }
  plan.built = true;
  return plan;
}

bool CRestoreEngine::IsInterior(int x, int y) const {
  return x >= 3 && x <= Width() - 3 && y >= 3 && y <= Height() - 3;
}

// List entry k, alone.
void CRestoreEngine::UpdateOne(int k, double dt, bool vector) {
  const MaskPixel p = m_pMaskList[k];
  if (p.active != 1) return;
  const int x = p.x, y = p.y;
  double* const self = g_work.At(x, y);
  double* const update = &m_pUpdate[std::size_t(k) * 3];
  const std::ptrdiff_t S = std::ptrdiff_t(g_work.RowStride());
  int changed = 0;
  if (IsInterior(x, y) && vector) {
    changed = InteriorUpdateAvx2(*this, self, S, x, y, dt, update);
  } else {
    double v[3];
    if (IsInterior(x, y))
      InteriorTransport(*this, self, S, x, y, v);
    else
      BorderTransport(*this, x, y, v);
    for (int c = 0; c < 3; ++c) update[c] = Clamp255(LimitTransport(v[c]) * dt + self[c]);
    for (int c = 0; c < 3; ++c) {
      if (self[c] != update[c]) changed |= 1 << c;
      self[c] = update[c];
    }
  }
  if (changed) m_flatRuns.Changed(x, y, changed);
}

// Entries k[0..N-1], none of which reads another.
template <int N>
void CRestoreEngine::UpdateGroup(const int* k, double dt, bool vector) {
  double* self[N];
  double* update[N];
  int xs[N], ys[N];
  double* const plane = g_work.Data();
  for (int i = 0; i < N; ++i) {
    if (!vector || !m_sweepInterior[std::size_t(k[i])]) {
      for (int j = 0; j < N; ++j) UpdateOne(k[j], dt, vector);
      return;
    }
    xs[i] = m_sweepX[std::size_t(k[i])];
    ys[i] = m_pMaskList[k[i]].y;
    self[i] = plane + m_sweepOffset[std::size_t(k[i])];
    update[i] = &m_pUpdate[std::size_t(k[i]) * 3];
  }
  const int changed =
      InteriorGroupAvx2<N>(*this, self, xs, ys, update, std::ptrdiff_t(g_work.RowStride()), dt);
  for (int i = 0; i < N; ++i)
    if (const int channels = (changed >> (3 * i)) & 7) m_flatRuns.Changed(xs[i], ys[i], channels);
}

// The wall time and this thread's processor time since it was made.
class CThreadClock {
 public:
  CThreadClock() : m_wall(std::chrono::steady_clock::now()), m_cpu(Cpu()) {}
  // Whether more than an eighth of the time (and a fifth of a millisecond) went
  // by with the thread off its core.
  bool LostToOthers() const {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall).count();
    const double lost = wall - (Cpu() - m_cpu);
    return lost > 2e-4 && lost > wall / 8;
  }

 private:
  static double Cpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  std::chrono::steady_clock::time_point m_wall;
  double m_cpu;
};

// One iteration over the first `count` list entries (their rows in m_rowSegments).
// Row 0 first, alone; then the other rows, in bands that the engine's threads take
// in turn when it has more than one.
void CRestoreEngine::TransportSweep(double dt, int count) {
  const bool vector = m_kernels.vectorKernel && CpuHasAvx2();
  const std::vector<RowSegment>& rows = m_rowSegments;
  std::size_t first = 0;
  if (!rows.empty() && m_pMaskList[rows[0].begin].y == 0) {
    for (int k = rows[0].begin; k < rows[0].end; ++k) UpdateOne(k, dt, vector);
    first = 1;
  }
  const bool shared = m_kernels.threads >= 2 && rows.size() - first > std::size_t(kThreadBand) &&
                      std::size_t(count) >= m_kernels.parallelFrom && m_nSoloSweeps == 0;
  // No more threads than bands: one more would find none left to take.
  const std::size_t bandCount = (rows.size() - first + kThreadBand - 1) / kThreadBand;
  const std::size_t threads =
      std::min({std::size_t(m_kernels.threads), std::size_t(kMostThreads), bandCount});
  const std::size_t workers = shared ? Workers(threads - 1) : 0;
  SweepCounters* const counters = m_kernels.sweepCounters;
  if (workers == 0) {
    if (m_nSoloSweeps > 0) --m_nSoloSweeps;
    const SweepPlan& plan = Plan(false, first);
    SweepRounds(plan, 0, plan.rounds.size(), dt, vector, nullptr, 0, nullptr, nullptr);
    if (counters) counters->solo.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const SweepPlan& plan = Plan(true, first);
  const std::size_t bands = plan.bands.size() - 1;
  // Band b is rows [first + b K, first + (b + 1) K). The threads take the bands in
  // order; each band waits only for the one above (whose frontier speaks for every
  // band above it), so up to one band per thread is under way, each behind the last.
  if (m_frontiers.size() < bands) m_frontiers = std::vector<Frontier>(bands);
  for (std::size_t b = 0; b < bands; ++b)
    m_frontiers[b].column.store(-1, std::memory_order_relaxed);
  std::atomic<std::size_t> nextBand{0};
  // Set by a thread that waited milliseconds for the band above, whose thread must
  // then have lost its core to another program (a wait for a neighbour takes
  // microseconds): no more bands are taken, and the rest of the sweep runs on this
  // thread alone.
  std::atomic<bool> stalled{false};
  const auto run = [this, &plan, &nextBand, &stalled, bands, dt, vector, counters] {
    const auto start =
        counters ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
    std::uint64_t waitNs = 0;
    while (!stalled.load(std::memory_order_relaxed)) {
      const std::size_t b = nextBand.fetch_add(1, std::memory_order_relaxed);
      if (b >= bands) break;
      SweepRounds(plan, plan.bands[b], plan.bands[b + 1], dt, vector, m_frontiers.data(), b,
                  &stalled, counters ? &waitNs : nullptr);
    }
    if (counters) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now() - start);
      counters->bandNs.fetch_add(std::uint64_t(ns.count()), std::memory_order_relaxed);
      counters->waitNs.fetch_add(waitNs, std::memory_order_relaxed);
    }
  };
  // A thread that lost a good part of the sweep off its core (wall time well
  // beyond its processor time: the machine is busy) kept the others waiting too;
  // one thread alone would have lost only its own share.
  std::atomic<bool> crowded{false};
  const auto timed = [&crowded](const auto& work) {
    const CThreadClock clock;
    work();
    if (clock.LostToOthers()) crowded.store(true, std::memory_order_relaxed);
  };
  const auto onWorker = [&timed, &run] { timed(run); };
  for (std::size_t w = 0; w < workers; ++w) m_workers[w]->Start(onWorker);
  timed([this, &run, workers] {
    run();
    // A thread that has not begun yet took no band; the others finish theirs.
    for (std::size_t w = 0; w < workers; ++w) m_workers[w]->WaitOrWithdraw();
  });
  const std::size_t done = std::min(nextBand.load(), bands);
  if (done < bands)
    SweepRounds(plan, plan.bands[done], plan.rounds.size(), dt, vector, nullptr, 0, nullptr,
                nullptr);
  if (counters) counters->shared.fetch_add(1, std::memory_order_relaxed);
  // The longer the machine stays busy, the longer before the next try.
  if (stalled.load() || crowded.load()) {
    m_nSoloSweeps = m_nSoloAfterStall;
    m_nSoloAfterStall = std::min(2 * m_nSoloAfterStall, kMostSoloSweeps);
  } else {
    m_nSoloAfterStall = kFewestSoloSweeps;
  }
}

// Rounds [from, to) of a plan. With `frontiers`, they are band `band` of a shared
// sweep: a round waits until every band above has passed its pixels by four
// columns. Then no cell a pixel reads (its stencil, its row, its column up through
// the bands above) is one a band above has still to write, and no cell a band
// above has still to read is one this band writes, the fourth lane of a store
// included. The frontier of the band right above says so for all of them: each
// band publishes the least of its own next column and what it last read of the
// bands above, and a band whose rows are done hands the question on upwards.
void CRestoreEngine::SweepRounds(const SweepPlan& plan, std::size_t from, std::size_t to, double dt,
                                 bool vector, Frontier* frontiers, std::size_t band,
                                 std::atomic<bool>* stalled, std::uint64_t* waitNs) {
  static_assert(kBand <= 6, "the rounds are grouped for at most six pixels");
  constexpr unsigned kPublishEvery = 4;
  constexpr unsigned kSpinsBeforeYield = 16384;
  // The band above whose frontier speaks for the rest: the nearest whose rows are
  // not done (a band done stays done).
  std::size_t watched = band;
  const auto aboveColumn = [frontiers, &watched]() {
    while (watched > 0) {
      const int column = frontiers[watched - 1].column.load(std::memory_order_acquire);
      if (column != kRowsDone) return column;
      --watched;
    }
    return CFlatRuns::kNone;
  };
  std::atomic<int>* const own = frontiers ? &frontiers[band].column : nullptr;
  int aboveLimit = frontiers ? aboveColumn() : CFlatRuns::kNone;
  const std::int32_t* const pixels = plan.pixels.data();
  unsigned count = 0;
  for (std::size_t r = from; r < to; ++r) {
    const SweepRound& round = plan.rounds[r];
    if (round.need > aboveLimit) {
      // Waiting for the bands above. When a thread there has lost its core to
      // another program, spinning on would only keep it off this one too.
      unsigned waits = 0;
      std::chrono::steady_clock::time_point waitStart;
      const auto counted =
          waitNs ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
      for (;;) {
        aboveLimit = aboveColumn();
        if (round.need <= aboveLimit) break;
        if (++waits < kSpinsBeforeYield) {
          __builtin_ia32_pause();
        } else {
          const auto now = std::chrono::steady_clock::now();
          if (waits == kSpinsBeforeYield) waitStart = now;
          if (now - waitStart > kStalledWait) stalled->store(true, std::memory_order_relaxed);
          std::this_thread::yield();
        }
      }
      if (waitNs)
        *waitNs += std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now() - counted)
                                     .count());
    }
    // Groups of four, three or two (five as three and two): a pixel alone leaves
    // the processor waiting on its chain of roots.
    const int* k = pixels + round.first;
    switch (round.size) {
      case 6:
        UpdateGroup<4>(k, dt, vector);
        UpdateGroup<2>(k + 4, dt, vector);
        break;
      case 5:
        UpdateGroup<3>(k, dt, vector);
        UpdateGroup<2>(k + 3, dt, vector);
        break;
      case 4:
        UpdateGroup<4>(k, dt, vector);
        break;
      case 3:
        UpdateGroup<3>(k, dt, vector);
        break;
      case 2:
        UpdateGroup<2>(k, dt, vector);
        break;
      default:
        UpdateOne(*k, dt, vector);
        break;
    }
    // The band below reads this line from another core, so it is written only
    // every few rounds (a stale frontier only waits longer). What it says may not
    // pass what the bands above have been seen to reach; a band held back by them
    // looks again first, so that it does not hold the band below back further.
    if (own && (++count & (kPublishEvery - 1)) == 0) {
      if (round.frontier > aboveLimit) aboveLimit = aboveColumn();
      own->store(std::min(round.frontier, aboveLimit), std::memory_order_release);
    }
  }
  if (own) own->store(kRowsDone, std::memory_order_release);
}
