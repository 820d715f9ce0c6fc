// Membrane fill. The picture is W x H pixels of three doubles, row by row (pixel
// (x, y) at element (y * W + x) * 3); a mask cell that is not zero marks an unknown.
//
// At every masked pixel p, for each channel:
//   sum over q in N(p) of (u_p - u_q) = 0,   N(p) = the 4-neighbours of p inside the picture,
// u_q the picture's value for an unmasked q (Dirichlet). A neighbour outside the
// picture is simply absent: the border is natural (no flux across it). As A u = b:
//   A_pp = |N(p)|,  A_pq = -1 for a masked q in N(p),  b_p = sum of u_q over the unmasked q in
//   N(p).
// A is the same for the three channels. Where every masked component touches an
// unmasked pixel, A is irreducibly diagonally dominant, hence symmetric positive
// definite. A component that touches none has all its neighbours masked; the pixel
// grid being connected, it is then the whole picture, and nothing is solved.
//
// Unknowns are numbered in row order, x fastest. Each keeps the numbers of its masked
// left, right, upper and lower neighbours, or n (an entry kept zero at the end of every
// vector) when there is none; the upper ones come from one merge of the list with
// itself one row behind. Memory is O(masked pixels).
//
// Solver: conjugate gradients preconditioned by the modified incomplete Cholesky
// factor MIC(0) of A in that order. Plain CG needs O(sqrt(cond A)) iterations, about
// the width of the hole in pixels (hundreds for a 400 x 300 hole); MIC(0) brings the
// condition number from O(width^2) to O(width). Multigrid would be faster still on a
// square hole, but a mask of thin scratches and letters has no faithful coarse grid,
// while MIC(0) works on any mask with one code path. The three channels run in
// lockstep through the same matrix and factor, each with its own step lengths; a
// channel stops when its residual, recomputed as b - A u, is below tolerance x ||b||.
// The start is u = 0, so the result does not depend on what the hole held. Every sum
// runs in a fixed order: the result is the same on every run.
#include "engine/membrane.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace {
// Share of the fill-in dropped by the incomplete factor that is moved onto its
// diagonal (1 would keep the row sums of A exactly and can break down).
constexpr double kMicTau = 0.97;
// A pivot below this share of A_pp is replaced by A_pp.
constexpr double kMicSigma = 0.25;

using Index = std::int32_t;

struct Unknowns {
  Index n = 0;
  std::vector<Index> px, py;                 // n
  std::vector<Index> left, right, up, down;  // n + 1, entry n = none
  std::vector<double> diag;                  // n
  std::vector<double> precon;                // n + 1: 1 / pivot, entry n = 0
};

bool Masked(const MaskPlane& mask, int x, int y) { return mask.At(x, y) != 0; }

void ListUnknowns(const MaskPlane& mask, Index n, Unknowns* u) {
  const int W = mask.Width(), H = mask.Height();
  u->n = n;
  u->px.reserve(std::size_t(n));
  u->py.reserve(std::size_t(n));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (Masked(mask, x, y)) {
        u->px.push_back(x);
        u->py.push_back(y);
      }
  const std::size_t links = std::size_t(n) + 1;
  u->left.assign(links, n);
  u->right.assign(links, n);
  u->up.assign(links, n);
  u->down.assign(links, n);
  u->diag.resize(std::size_t(n));
  Index behind = 0;  // first unknown not before (x, y - 1)
  for (Index k = 0; k < n; ++k) {
    const Index x = u->px[k], y = u->py[k];
    if (k > 0 && u->py[k - 1] == y && u->px[k - 1] == x - 1) {
      u->left[k] = k - 1;
      u->right[k - 1] = k;
    }
    while (behind < k && (u->py[behind] < y - 1 || (u->py[behind] == y - 1 && u->px[behind] < x)))
      ++behind;
    if (behind < k && u->py[behind] == y - 1 && u->px[behind] == x) {
      u->up[k] = behind;
      u->down[behind] = k;
    }
    u->diag[k] = double((x > 0) + (x < W - 1) + (y > 0) + (y < H - 1));
  }
}

void FactorMic(Unknowns* u) {
  const Index n = u->n;
  u->precon.assign(std::size_t(n) + 1, 0.0);
  for (Index k = 0; k < n; ++k) {
    const Index L = u->left[k], U = u->up[k];
    const double pl = u->precon[L] * u->precon[L];
    const double pu = u->precon[U] * u->precon[U];
    const double dropped = (u->down[L] != n ? pl : 0.0) + (u->right[U] != n ? pu : 0.0);
    double pivot = u->diag[k] - pl - pu - kMicTau * dropped;
    if (pivot < kMicSigma * u->diag[k]) pivot = u->diag[k];
    u->precon[k] = 1.0 / std::sqrt(pivot);
  }
}

// Vectors hold the three channels of unknown k at 3k .. 3k + 2, and three zeros at 3n.
using Vec = std::vector<double>;

// out = A v.
void MultiplyA(const Unknowns& u, const Vec& v, Vec* out) {
  double* o = out->data();
  const double* s = v.data();
  for (Index k = 0; k < u.n; ++k) {
    const std::size_t i = std::size_t(k) * 3, l = std::size_t(u.left[k]) * 3,
                      r = std::size_t(u.right[k]) * 3, a = std::size_t(u.up[k]) * 3,
                      b = std::size_t(u.down[k]) * 3;
    for (int c = 0; c < 3; ++c)
      o[i + c] = u.diag[k] * s[i + c] - s[l + c] - s[r + c] - s[a + c] - s[b + c];
  }
}

// z = (F F^T)^-1 r, F the MIC(0) factor: forward in row order, then backward.
void Precondition(const Unknowns& u, const Vec& r, Vec* zOut) {
  double* z = zOut->data();
  const double* p = u.precon.data();
  for (Index k = 0; k < u.n; ++k) {
    const std::size_t i = std::size_t(k) * 3, l = std::size_t(u.left[k]) * 3,
                      a = std::size_t(u.up[k]) * 3;
    const double pl = p[u.left[k]], pa = p[u.up[k]];
    for (int c = 0; c < 3; ++c) z[i + c] = (r[i + c] + pl * z[l + c] + pa * z[a + c]) * p[k];
  }
  for (Index k = u.n - 1; k >= 0; --k) {
    const std::size_t i = std::size_t(k) * 3, rt = std::size_t(u.right[k]) * 3,
                      b = std::size_t(u.down[k]) * 3;
    for (int c = 0; c < 3; ++c) z[i + c] = (z[i + c] + p[k] * (z[rt + c] + z[b + c])) * p[k];
  }
}

void Dots(const Vec& a, const Vec& b, Index n, double out[3]) {
  out[0] = out[1] = out[2] = 0.0;
  for (std::size_t i = 0, end = std::size_t(n) * 3; i < end; i += 3)
    for (int c = 0; c < 3; ++c) out[c] += a[i + c] * b[i + c];
}

// b - A x into *t, and the squared norm of each channel of it.
void TrueResidual(const Unknowns& u, const Vec& b, const Vec& x, Vec* t, double squares[3]) {
  MultiplyA(u, x, t);
  for (std::size_t i = 0, end = std::size_t(u.n) * 3; i < end; ++i) (*t)[i] = b[i] - (*t)[i];
  Dots(*t, *t, u.n, squares);
}

double RoundToByte(double v) {
  v = std::round(v);
  if (!(v > 0.0)) return 0.0;
  return v > 255.0 ? 255.0 : v;
}

MembraneReport Fill(RgbPlane* work, const MaskPlane& mask, double tolerance, int maxIterations,
                    bool round) {
  MembraneReport report;
  if (!work || !std::isfinite(tolerance) || tolerance < 0.0 || maxIterations < 0) {
    report.status = MembraneStatus::kBadArgument;
    return report;
  }
  const int W = work->Width(), H = work->Height();
  if (mask.Width() != W || mask.Height() != H) {
    report.status = MembraneStatus::kSizeMismatch;
    return report;
  }
  std::size_t masked = 0;
  for (std::size_t i = 0; i < mask.Size(); ++i) masked += mask.Data()[i] != 0;
  if (masked > std::size_t(std::numeric_limits<Index>::max() - 1)) {
    report.status = MembraneStatus::kTooLarge;
    return report;
  }
  report.converged = true;
  if (masked == 0) return report;
  if (masked == mask.Size()) {
    report.unboundedPixels = int(masked);
    return report;
  }
  const Index n = Index(masked);
  const std::size_t len = (std::size_t(n) + 1) * 3;
  try {
    Unknowns u;
    ListUnknowns(mask, n, &u);
    FactorMic(&u);

    Vec b(len, 0.0);
    for (Index k = 0; k < n; ++k) {
      const int x = u.px[k], y = u.py[k];
      double* bk = &b[std::size_t(k) * 3];
      const int nx[4] = {x - 1, x + 1, x, x};
      const int ny[4] = {y, y, y - 1, y + 1};
      for (int e = 0; e < 4; ++e) {
        if (nx[e] < 0 || nx[e] >= W || ny[e] < 0 || ny[e] >= H || Masked(mask, nx[e], ny[e]))
          continue;
        const double* q = work->At(nx[e], ny[e]);
        for (int c = 0; c < 3; ++c) bk[c] += q[c];
      }
    }
    double bNorm[3];
    Dots(b, b, n, bNorm);
    for (int c = 0; c < 3; ++c) bNorm[c] = std::sqrt(bNorm[c]);

    Vec x(len, 0.0), r(b), z(len, 0.0), p(len, 0.0), q(len, 0.0);
    Precondition(u, r, &z);
    p = z;
    double rz[3], pq[3], rr[3], check[3];
    Dots(r, z, n, rz);
    bool active[3];
    for (int c = 0; c < 3; ++c) active[c] = bNorm[c] > 0.0;
    const std::size_t end = std::size_t(n) * 3;
    auto anyActive = [&] { return active[0] || active[1] || active[2]; };
    while (anyActive() && report.iterations < maxIterations) {
      ++report.iterations;
      MultiplyA(u, p, &q);
      Dots(p, q, n, pq);
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        if (!(pq[c] > 0.0)) {  // only with p = 0, i.e. r = 0: solved exactly
          active[c] = false;
          continue;
        }
        const double alpha = rz[c] / pq[c];
        for (std::size_t i = c; i < end; i += 3) {
          x[i] += alpha * p[i];
          r[i] -= alpha * q[i];
        }
      }
      Dots(r, r, n, rr);
      bool restart[3] = {false, false, false};
      bool verify = false;
      for (int c = 0; c < 3; ++c)
        if (active[c] && std::sqrt(rr[c]) <= tolerance * bNorm[c]) verify = true;
      if (verify) {
        // The updated residual drifts from b - A x; only the recomputed one decides.
        TrueResidual(u, b, x, &q, check);
        for (int c = 0; c < 3; ++c) {
          if (!active[c] || std::sqrt(rr[c]) > tolerance * bNorm[c]) continue;
          if (std::sqrt(check[c]) <= tolerance * bNorm[c]) {
            active[c] = false;
          } else {
            for (std::size_t i = c; i < end; i += 3) r[i] = q[i];
            restart[c] = true;
          }
        }
        if (!anyActive()) break;
      }
      Precondition(u, r, &z);
      double rzNext[3];
      Dots(r, z, n, rzNext);
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        const double beta = restart[c] ? 0.0 : rzNext[c] / rz[c];
        for (std::size_t i = c; i < end; i += 3) p[i] = z[i] + beta * p[i];
        rz[c] = rzNext[c];
      }
    }

    TrueResidual(u, b, x, &q, check);
    report.relativeResidual = 0.0;
    for (int c = 0; c < 3; ++c) {
      const double rel = bNorm[c] > 0.0 ? std::sqrt(check[c]) / bNorm[c] : 0.0;
      if (rel > report.relativeResidual) report.relativeResidual = rel;
      if (!(rel <= tolerance)) report.converged = false;
    }
    for (Index k = 0; k < n; ++k) {
      double* out = work->At(u.px[k], u.py[k]);
      for (int c = 0; c < 3; ++c) {
        const double v = x[std::size_t(k) * 3 + c];
        out[c] = round ? RoundToByte(v) : v;
      }
    }
  } catch (const std::bad_alloc&) {
    return MembraneReport{0, 0.0, false, 0, MembraneStatus::kOutOfMemory};
  } catch (const std::length_error&) {
    return MembraneReport{0, 0.0, false, 0, MembraneStatus::kOutOfMemory};
  }
  return report;
}
}  // namespace

MembraneReport MembraneFill(RgbPlane* work, const MaskPlane& mask, double tolerance,
                            int maxIterations) {
  return Fill(work, mask, tolerance, maxIterations, true);
}

MembraneReport SolveMembrane(RgbPlane* work, const MaskPlane& mask, double tolerance,
                             int maxIterations) {
  return Fill(work, mask, tolerance, maxIterations, false);
}
