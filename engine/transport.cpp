// Transport step: for every active entry of the mask list, in list order and in
// place, each channel c of g_work moves by dt x LimitTransport(s x beta), clamped
// to 0..255, where beta is the change of the Laplacian along the isophote
// (LaplacianGradient . IsophoteDirection) and s the upwind slope-limited gradient.
// Planes are [x][y][c]; every neighbour read goes through ClampX/ClampY (index <= 0
// reads 1, index >= W reads W - 1). A Laplacian centre inside the image is read
// unclamped; one outside the image is read at (ClampX(x), ClampY(y)). A direction
// of zero norm is (0, 0), so beta is 0 and the channel stays.
//
// TransportStepReference computes the step literally through the small operations;
// TransportStep gives the same bits with the reads of interior pixels unclamped and
// the three channels of a pixel computed together.
#include <algorithm>
#include <cmath>

#include "engine/engine.h"

namespace {
// Squares are the correctly rounded product.
inline double Square(double v) { return v * v; }

constexpr int kColumn = kPlaneSide * 3;  // doubles from one column to the next
}  // namespace

int CRestoreEngine::ClampX(int i) const {
  if (i <= 0) i = 1;
  return i >= Width() ? Width() - 1 : i;
}

int CRestoreEngine::ClampY(int j) const {
  if (j <= 0) j = 1;
  return j >= Height() ? Height() - 1 : j;
}

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

void CRestoreEngine::TransportStepReference(int iterations, int count) {
  UpdateData(true);
  const double dt = double(m_fDeltaT);
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

void CRestoreEngine::TransportStep(int iterations, int count) {
  if (m_bReferenceKernels) {
    TransportStepReference(iterations, count);
    return;
  }
  UpdateData(true);
  const double dt = double(m_fDeltaT);
  if (iterations < 1) return;
  count = std::min(count, m_nMaskCount);
  for (int it = 0; it < iterations; ++it) TransportSweep(dt, count);
}

// The widening cross from radius 2 on, for a pixel whose radius-1 cross saw no
// gradient: the differences and the norm at the first radius with a non-zero norm,
// or at the last radius the right and bottom limits allow.
double CRestoreEngine::WidenDirection(int x, int y, int c, double* dX, double* dY) const {
  const int W = Width(), H = Height();
  const double* const self = &g_work[x][y][c];
  // Up to this radius the cross stays inside [1, W-1] x [1, H-1]: no clamp acts.
  const int free = std::min(std::min(x - 1, y - 1), std::min(W - 1 - x, H - 1 - y));
  int r = 2;
  for (; r <= free; ++r) {
    const double v = self[3 * r] - self[-3 * r];
    const double h = self[kColumn * r] - self[-kColumn * r];
    if (v == 0.0 && h == 0.0) continue;
    const double norm = std::sqrt(Square(h) + Square(v));
    if (norm != 0.0) {
      *dX = h;
      *dY = v;
      return norm;
    }
  }
  double norm = 0.0;
  for (; x + r <= W && y + r <= H; ++r) {
    *dY = g_work[x][ClampY(y + r)][c] - g_work[x][ClampY(y - r)][c];
    *dX = g_work[ClampX(x + r)][y][c] - g_work[ClampX(x - r)][y][c];
    norm = std::sqrt(Square(*dX) + Square(*dY));
    if (norm != 0.0) break;
  }
  return norm;
}

// One iteration over the first `count` list entries.
void CRestoreEngine::TransportSweep(double dt, int count) {
  const int W = Width(), H = Height();
  double* const plane = &g_work[0][0][0];
  for (int k = 0; k < count; ++k) {
    const MaskPixel p = m_pMaskList[k];
    if (p.active != 1) continue;
    const int x = p.x, y = p.y;
    double* const self = plane + std::size_t(x) * kColumn + std::size_t(y) * 3;
    double v[3];
    if (x >= 3 && x <= W - 3 && y >= 3 && y <= H - 3) {
      // Interior: every clamp is the identity, every Laplacian centre is inside.
      const double* const l1 = self - kColumn;  // column x - 1
      const double* const l2 = self - 2 * kColumn;
      const double* const r1 = self + kColumn;
      const double* const r2 = self + 2 * kColumn;
      for (int c = 0; c < 3; ++c) {
        const double mid = self[c];
        const double left = l1[c], right = r1[c], up = self[c - 3], down = self[c + 3];
        // Laplacians at (x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1).
        const double lr = (((r1[c + 3] + (-4.0 * right)) + r1[c - 3]) + r2[c]) + mid;
        const double ll = (((l1[c + 3] + (-4.0 * left)) + l1[c - 3]) + mid) + l2[c];
        const double ld = (((self[c + 6] + (-4.0 * down)) + mid) + r1[c + 3]) + l1[c + 3];
        const double lu = (((mid + (-4.0 * up)) + self[c - 6]) + r1[c - 3]) + l1[c - 3];
        const double gx = lr - ll;
        const double gy = ld - lu;
        // Direction: radius 1 is always inside the image.
        double dY = down - up;
        double dX = right - left;
        double norm = (dX == 0.0 && dY == 0.0) ? 0.0 : std::sqrt(Square(dX) + Square(dY));
        if (norm == 0.0) norm = WidenDirection(x, y, c, &dX, &dY);
        double beta;
        if (norm == 0.0) {
          beta = gx * 0.0 + gy * 0.0;
        } else {
          const double inv = 1.0 / norm;
          beta = gx * -(inv * dY) + gy * (inv * dX);
        }
        double bx = mid - left, fx = right - mid, by = mid - up, fy = down - mid;
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
        const double s = std::sqrt(((Square(fy) + Square(by)) + Square(fx)) + Square(bx));
        v[c] = s * beta;
      }
    } else {
      for (int c = 0; c < 3; ++c) {
        const Vec3 g = LaplacianGradient(p, c);
        const Vec3 n = IsophoteDirection(p, c);
        const double beta = DotProduct(g, n);
        v[c] = SlopeLimitedGradient(p, c, beta) * beta;
      }
    }
    double* update = &m_pUpdate[std::size_t(k) * 3];
    for (int c = 0; c < 3; ++c) update[c] = Clamp255(LimitTransport(v[c]) * dt + self[c]);
    for (int c = 0; c < 3; ++c) self[c] = update[c];
  }
}
