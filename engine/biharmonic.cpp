// Thin-plate and tension fill. The picture is W x H pixels of three doubles, row by
// row (pixel (x, y) at element (y * W + x) * 3); a mask cell that is not zero marks an
// unknown.
//
// The energy is a sum of squared differences d_t . u, d_t one of the terms
//   u_xx at (x, y), 1 <= x <= W - 2:   u(x-1, y) - 2 u(x, y) + u(x+1, y)            weight 1
//   u_yy at (x, y), 1 <= y <= H - 2:   the same down a column                       weight 1
//   u_xy on the square at (x, y):      u(x,y) - u(x+1,y) - u(x,y+1) + u(x+1,y+1)    weight 2
//   an edge to a 4-neighbour inside:   u(p) - u(q)                                  weight lambda
// so A = T + lambda G = sum_t w_t d_t d_t^T over the whole picture. A_pq is nonzero
// only for q within the 13-point cross of p, and depends only on how close p lies to
// the picture's edges (up to 2 pixels each way): 81 classes, each worked out once from
// the terms themselves. The masked values u_M minimise E: A_MM u_M = -A_MK u_K.
//
// A_MM is positive definite exactly when no nonzero v that vanishes on the known pixels
// has E(v) = 0. With lambda > 0 that needs one known pixel. With lambda = 0, E(v) = 0
// means every second difference of v vanishes, i.e. v is affine over the picture; one
// that vanishes on the known pixels exists only when they lie on one line (for a
// picture one pixel wide: when at most one is known). That case falls back to the
// membrane.
//
// Solver: conjugate gradients with a multigrid V-cycle as preconditioner. Coarse grid
// l + 1 keeps the points (2X, 2Y) of grid l and is masked where grid l is there. A
// correction is interpolated bilinearly from the coarse unknowns (a known coarse point
// brings none; past the coarse grid's last column or row the nearest coarse point is
// taken alone), residuals are restricted by the transpose P^T, and the coarse operator
// is the Galerkin product P^T A P, kept as P^T T P and P^T G P so that another lambda
// needs no new products. (Rediscretising the energy on the coarse grid instead is
// inconsistent with the fine one at the rim of a hole, where a fourth-order operator
// is most sensitive, and the V-cycle then diverges.) A coarse operator has the 5 x 5
// box of taps. Smoothing: Gauss-Seidel in row order before the coarse correction and
// in reverse order after it, so the V-cycle is symmetric positive definite. The
// coarsest grid (at most kDenseLimit unknowns) is solved by a dense Cholesky factor; a
// grid whose coarser grid would have no unknown (a mask of one-pixel lines) is instead
// smoothed by a fixed number of symmetric sweeps. The three channels run in lockstep
// through the same operators, each with its own step lengths; a channel stops when its
// residual, recomputed as b - A u, is below tolerance x ||b||. The start is u = 0;
// every sum runs in a fixed order, so the result is the same bits on every run.
#include "engine/biharmonic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/huge_pages.h"
#include "engine/membrane.h"

namespace {
using Index = std::int32_t;
using Vec = HugeVector<double>;

// The 13-point cross: the pixel itself, its 4-neighbours, diagonals, the pixels two away.
constexpr int kCrossTaps = 13;
constexpr int kCrossDx[kCrossTaps] = {0, -1, 1, 0, 0, -1, 1, -1, 1, -2, 2, 0, 0};
constexpr int kCrossDy[kCrossTaps] = {0, 0, 0, -1, 1, -1, -1, 1, 1, 0, 0, -2, 2};
constexpr int kClasses = 81;
// The coarse grids' 5 x 5 box.
constexpr int kBoxTaps = 25;
// Coarsest grids this small are solved exactly.
constexpr Index kDenseLimit = 160;
// Symmetric sweeps standing in for a coarsest grid too large to factor.
constexpr int kCoarsestSweeps = 4;

int CrossTap(int dx, int dy) {
  for (int j = 0; j < kCrossTaps; ++j)
    if (kCrossDx[j] == dx && kCrossDy[j] == dy) return j;
  return -1;
}

// The box, the point itself first, then row by row.
struct Box {
  int dx[kBoxTaps], dy[kBoxTaps];
  int tap[5][5];  // by dy + 2, dx + 2
  Box() {
    int j = 1;
    for (int y = -2; y <= 2; ++y)
      for (int x = -2; x <= 2; ++x) {
        const int t = (x == 0 && y == 0) ? 0 : j++;
        dx[t] = x;
        dy[t] = y;
        tap[y + 2][x + 2] = t;
      }
  }
};
const Box kBox;

int ClassOf(int x, int y, int W, int H) {
  const int a = std::min(x, 2), b = std::min(W - 1 - x, 2);
  const int c = std::min(y, 2), d = std::min(H - 1 - y, 2);
  return ((a * 3 + b) * 3 + c) * 3 + d;
}

// Row p = (x, y) of the plate part T and of the tension part G of A, by cross taps,
// summed from the terms that contain p.
void PlateRow(int x, int y, int W, int H, double t[kCrossTaps], double g[kCrossTaps]) {
  std::fill(t, t + kCrossTaps, 0.0);
  std::fill(g, g + kCrossTaps, 0.0);
  auto term = [&](int count, const int* qx, const int* qy, const double* k, double w, double* row) {
    for (int i = 0; i < count; ++i) {
      if (qx[i] != x || qy[i] != y) continue;
      for (int j = 0; j < count; ++j) row[CrossTap(qx[j] - x, qy[j] - y)] += w * k[i] * k[j];
    }
  };
  const double second[3] = {1.0, -2.0, 1.0};
  for (int cx = x - 1; cx <= x + 1; ++cx) {
    if (cx < 1 || cx > W - 2) continue;
    const int qx[3] = {cx - 1, cx, cx + 1}, qy[3] = {y, y, y};
    term(3, qx, qy, second, 1.0, t);
  }
  for (int cy = y - 1; cy <= y + 1; ++cy) {
    if (cy < 1 || cy > H - 2) continue;
    const int qx[3] = {x, x, x}, qy[3] = {cy - 1, cy, cy + 1};
    term(3, qx, qy, second, 1.0, t);
  }
  const double mixed[4] = {1.0, -1.0, -1.0, 1.0};
  for (int sy = y - 1; sy <= y; ++sy)
    for (int sx = x - 1; sx <= x; ++sx) {
      if (sx < 0 || sy < 0 || sx > W - 2 || sy > H - 2) continue;
      const int qx[4] = {sx, sx + 1, sx, sx + 1}, qy[4] = {sy, sy, sy + 1, sy + 1};
      term(4, qx, qy, mixed, 2.0, t);
    }
  const double edge[2] = {1.0, -1.0};
  for (int e = 1; e <= 4; ++e) {
    const int nx = x + kCrossDx[e], ny = y + kCrossDy[e];
    if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
    const int qx[2] = {x, nx}, qy[2] = {y, ny};
    term(2, qx, qy, edge, 1.0, g);
  }
}

// One grid of the hierarchy: its unknowns in row order and the unknown at each tap of
// each (n where the tap is known or outside). The picture's grid has the cross and its
// rows by class; a coarser grid has the box and rows of its own. Rows are kept as the
// plate part and the tension part; `coef` is their sum for the current lambda.
struct Grid {
  int W = 0, H = 0;
  Index n = 0;
  int taps = kCrossTaps;
  HugeVector<Index> px, py;
  HugeVector<Index> neighbours;   // (taps - 1) per unknown
  HugeVector<unsigned char> cls;  // the picture's grid: the class of each unknown
  Vec plate, tension, coef;       // taps per class (picture's grid) or per unknown
  Vec inverseDiag;                // per class or per unknown
  HugeVector<Index> cell;         // W x H while building: the unknown at each point, or -1
  // Interpolation from the next coarser grid: four coarse unknowns per unknown (the
  // coarse n for none) and their weights.
  HugeVector<Index> parent;
  Vec weight;
  // Scratch of the V-cycle (3 (n + 1) each, three zeros at the end).
  Vec r, z, t;
  Vec factor;  // coarsest grid: the lower Cholesky factor, row by row, n x n
  bool dense = false;

  bool ByClass() const { return taps == kCrossTaps; }
  std::size_t RowOf(Index k) const {
    return (ByClass() ? std::size_t(cls[k]) : std::size_t(k)) * std::size_t(taps);
  }
  const double* Row(Index k) const { return &coef[RowOf(k)]; }
  double InverseDiag(Index k) const { return inverseDiag[ByClass() ? cls[k] : std::size_t(k)]; }
  const Index* Neighbours(Index k) const {
    return &neighbours[std::size_t(k) * std::size_t(taps - 1)];
  }
};

// The unknowns of a W x H grid whose masked points are masked(x, y), in row order.
template <typename Masked>
void ListGrid(int W, int H, Masked masked, Grid* g) {
  g->W = W;
  g->H = H;
  g->cell.assign(std::size_t(W) * std::size_t(H), -1);
  Index n = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (masked(x, y)) g->cell[std::size_t(y) * W + x] = n++;
  g->n = n;
  g->px.resize(std::size_t(n));
  g->py.resize(std::size_t(n));
  Index k = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (g->cell[std::size_t(y) * W + x] >= 0) {
        g->px[k] = x;
        g->py[k] = y;
        ++k;
      }
  const std::size_t len = (std::size_t(n) + 1) * 3;
  g->r.assign(len, 0.0);
  g->z.assign(len, 0.0);
  g->t.assign(len, 0.0);
  g->dense = false;
}

// The neighbours of every unknown at the taps (dx[j], dy[j]), j = 1 .. taps - 1.
void LinkNeighbours(const int* dx, const int* dy, Grid* g) {
  const Index n = g->n;
  g->neighbours.assign(std::size_t(n) * std::size_t(g->taps - 1), n);
  for (Index k = 0; k < n; ++k) {
    Index* nk = &g->neighbours[std::size_t(k) * std::size_t(g->taps - 1)];
    for (int j = 1; j < g->taps; ++j) {
      const int qx = g->px[k] + dx[j], qy = g->py[k] + dy[j];
      if (qx < 0 || qy < 0 || qx >= g->W || qy >= g->H) continue;
      const Index q = g->cell[std::size_t(qy) * g->W + qx];
      if (q >= 0) nk[j - 1] = q;
    }
  }
}

void BuildPictureGrid(const MaskPlane& mask, Grid* g) {
  ListGrid(
      mask.Width(), mask.Height(), [&](int x, int y) { return mask.At(x, y) != 0; }, g);
  g->taps = kCrossTaps;
  LinkNeighbours(kCrossDx, kCrossDy, g);
  g->cls.resize(std::size_t(g->n));
  g->plate.assign(std::size_t(kClasses) * kCrossTaps, 0.0);
  g->tension.assign(std::size_t(kClasses) * kCrossTaps, 0.0);
  bool made[kClasses] = {};
  for (Index k = 0; k < g->n; ++k) {
    const int x = g->px[k], y = g->py[k];
    const int c = ClassOf(x, y, g->W, g->H);
    g->cls[k] = static_cast<unsigned char>(c);
    if (made[c]) continue;
    PlateRow(x, y, g->W, g->H, &g->plate[std::size_t(c) * kCrossTaps],
             &g->tension[std::size_t(c) * kCrossTaps]);
    made[c] = true;
  }
}

// Bilinear interpolation of grid f from c, whose point (X, Y) is f's (2X, 2Y).
void LinkParents(const Grid& c, Grid* f) {
  f->parent.assign(std::size_t(f->n) * 4, c.n);
  f->weight.assign(std::size_t(f->n) * 4, 0.0);
  for (Index k = 0; k < f->n; ++k) {
    const int x = f->px[k], y = f->py[k];
    int cx[2] = {x / 2, 0}, cy[2] = {y / 2, 0}, nx = 1, ny = 1;
    double wx[2] = {1.0, 0.0}, wy[2] = {1.0, 0.0};
    if (x % 2 && (x + 1) / 2 < c.W) {
      cx[1] = (x + 1) / 2;
      wx[0] = wx[1] = 0.5;
      nx = 2;
    }
    if (y % 2 && (y + 1) / 2 < c.H) {
      cy[1] = (y + 1) / 2;
      wy[0] = wy[1] = 0.5;
      ny = 2;
    }
    int slot = 0;
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) {
        const Index q = c.cell[std::size_t(cy[j]) * c.W + cx[i]];
        if (q < 0) continue;
        f->parent[std::size_t(k) * 4 + slot] = q;
        f->weight[std::size_t(k) * 4 + slot] = wx[i] * wy[j];
        ++slot;
      }
  }
}

// c's plate and tension parts as P^T T P and P^T G P of f's parts. Row i of A P lives
// on the coarse points [x/2 - 1, x/2 + 2] x [y/2 - 1, y/2 + 2] around fine unknown
// (x, y), a 4 x 4 window summed in place; its parents I are within 2 of every point of
// it, so each product lands on a tap of I's box.
void Galerkin(const Grid& f, Grid* c) {
  c->taps = kBoxTaps;
  LinkNeighbours(kBox.dx, kBox.dy, c);
  c->plate.assign(std::size_t(c->n) * kBoxTaps, 0.0);
  c->tension.assign(std::size_t(c->n) * kBoxTaps, 0.0);
  double apT[16], apG[16];
  Index at[16];
  for (Index i = 0; i < f.n; ++i) {
    const int bx = f.px[i] / 2 - 1, by = f.py[i] / 2 - 1;
    std::fill(apT, apT + 16, 0.0);
    std::fill(apG, apG + 16, 0.0);
    std::fill(at, at + 16, c->n);
    const double* t = &f.plate[f.RowOf(i)];
    const double* g = &f.tension[f.RowOf(i)];
    const Index* nb = f.Neighbours(i);
    for (int tap = 0; tap < f.taps; ++tap) {
      const Index j = tap == 0 ? i : nb[tap - 1];
      if (j == f.n || (t[tap] == 0.0 && g[tap] == 0.0)) continue;
      for (int s = 0; s < 4; ++s) {
        const Index J = f.parent[std::size_t(j) * 4 + s];
        if (J == c->n) break;
        const double w = f.weight[std::size_t(j) * 4 + s];
        const int slot = (c->py[J] - by) * 4 + (c->px[J] - bx);
        at[slot] = J;
        apT[slot] += t[tap] * w;
        apG[slot] += g[tap] * w;
      }
    }
    for (int s = 0; s < 4; ++s) {
      const Index I = f.parent[std::size_t(i) * 4 + s];
      if (I == c->n) break;
      const double w = f.weight[std::size_t(i) * 4 + s];
      double* rowT = &c->plate[std::size_t(I) * kBoxTaps];
      double* rowG = &c->tension[std::size_t(I) * kBoxTaps];
      for (int slot = 0; slot < 16; ++slot) {
        if (at[slot] == c->n) continue;
        const int tap = kBox.tap[c->py[at[slot]] - c->py[I] + 2][c->px[at[slot]] - c->px[I] + 2];
        rowT[tap] += w * apT[slot];
        rowG[tap] += w * apG[slot];
      }
    }
  }
}

// coef = plate + lambda tension and the inverse diagonals, on every grid; the coarsest
// factored when it is small.
void SetTension(double lambda, std::vector<Grid>* grids) {
  for (Grid& g : *grids) {
    g.coef.resize(g.plate.size());
    for (std::size_t i = 0; i < g.plate.size(); ++i) g.coef[i] = g.plate[i] + lambda * g.tension[i];
    const std::size_t rows = g.plate.size() / std::size_t(g.taps);
    g.inverseDiag.resize(rows);
    for (std::size_t k = 0; k < rows; ++k) {
      const double d = g.coef[k * std::size_t(g.taps)];
      g.inverseDiag[k] = d > 0.0 ? 1.0 / d : 0.0;  // a class no unknown has
    }
  }
  Grid& g = grids->back();
  g.dense = g.n <= kDenseLimit;
  if (!g.dense) return;
  const Index n = g.n;
  Vec& a = g.factor;
  a.assign(std::size_t(n) * n, 0.0);
  for (Index k = 0; k < n; ++k) {
    const double* row = g.Row(k);
    const Index* nb = g.Neighbours(k);
    a[std::size_t(k) * n + k] = row[0];
    for (int j = 1; j < g.taps; ++j)
      if (nb[j - 1] != n) a[std::size_t(k) * n + nb[j - 1]] = row[j];
  }
  for (Index j = 0; j < n; ++j) {
    double d = a[std::size_t(j) * n + j];
    for (Index k = 0; k < j; ++k) d -= a[std::size_t(j) * n + k] * a[std::size_t(j) * n + k];
    // The operator is positive definite; a pivot lost to rounding is kept positive.
    const double l = std::sqrt(d > 0.0 ? d : a[std::size_t(j) * n + j] * 1e-12);
    a[std::size_t(j) * n + j] = l;
    for (Index i = j + 1; i < n; ++i) {
      double s = a[std::size_t(i) * n + j];
      for (Index k = 0; k < j; ++k) s -= a[std::size_t(i) * n + k] * a[std::size_t(j) * n + k];
      a[std::size_t(i) * n + j] = s / l;
    }
  }
}

// The grids for the mask: the picture's own first, then coarser ones down to one small
// enough to factor, or one whose coarser grid would have no unknown.
void BuildHierarchy(const MaskPlane& mask, std::vector<Grid>* grids) {
  std::size_t levels = 1;
  if (grids->empty()) grids->emplace_back();
  BuildPictureGrid(mask, &(*grids)[0]);
  while ((*grids)[levels - 1].n > kDenseLimit) {
    Grid& f = (*grids)[levels - 1];
    const int cw = (f.W + 1) / 2, ch = (f.H + 1) / 2;
    if (cw == f.W && ch == f.H) break;
    if (grids->size() == levels) grids->emplace_back();
    Grid& c = (*grids)[levels];
    Grid& fine = (*grids)[levels - 1];
    ListGrid(
        cw, ch, [&](int x, int y) { return fine.cell[std::size_t(2 * y) * fine.W + 2 * x] >= 0; },
        &c);
    if (c.n == 0) break;
    LinkParents(c, &fine);
    Galerkin(fine, &c);
    ++levels;
  }
  grids->resize(levels);
}

// out = A v on grid g.
template <int T>
void MultiplyTaps(const Grid& g, const double* v, double* out) {
  for (Index k = 0; k < g.n; ++k) {
    const double* a = g.Row(k);
    const Index* nb = g.Neighbours(k);
    const std::size_t i = std::size_t(k) * 3;
    double s0 = a[0] * v[i], s1 = a[0] * v[i + 1], s2 = a[0] * v[i + 2];
    for (int j = 1; j < T; ++j) {
      const std::size_t q = std::size_t(nb[j - 1]) * 3;
      s0 += a[j] * v[q];
      s1 += a[j] * v[q + 1];
      s2 += a[j] * v[q + 2];
    }
    out[i] = s0;
    out[i + 1] = s1;
    out[i + 2] = s2;
  }
}

void Multiply(const Grid& g, const double* v, double* out) {
  if (g.taps == kCrossTaps)
    MultiplyTaps<kCrossTaps>(g, v, out);
  else
    MultiplyTaps<kBoxTaps>(g, v, out);
}

template <int T>
void SweepOne(const Grid& g, Index k, const double* r, double* z) {
  const double* a = g.Row(k);
  const Index* nb = g.Neighbours(k);
  const std::size_t i = std::size_t(k) * 3;
  double s0 = r[i], s1 = r[i + 1], s2 = r[i + 2];
  for (int j = 1; j < T; ++j) {
    const std::size_t q = std::size_t(nb[j - 1]) * 3;
    s0 -= a[j] * z[q];
    s1 -= a[j] * z[q + 1];
    s2 -= a[j] * z[q + 2];
  }
  const double inv = g.InverseDiag(k);
  z[i] = s0 * inv;
  z[i + 1] = s1 * inv;
  z[i + 2] = s2 * inv;
}

template <int T>
void SweepTaps(const Grid& g, bool forward, const double* r, double* z) {
  if (forward)
    for (Index k = 0; k < g.n; ++k) SweepOne<T>(g, k, r, z);
  else
    for (Index k = g.n - 1; k >= 0; --k) SweepOne<T>(g, k, r, z);
}

// One Gauss-Seidel sweep on A z = r, in row order or in reverse.
void Sweep(const Grid& g, bool forward, const double* r, double* z) {
  if (g.taps == kCrossTaps)
    SweepTaps<kCrossTaps>(g, forward, r, z);
  else
    SweepTaps<kBoxTaps>(g, forward, r, z);
}

void SolveDense(const Grid& g, const double* r, double* z) {
  const Index n = g.n;
  const double* a = g.factor.data();
  for (Index i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) {
      double s = r[std::size_t(i) * 3 + c];
      for (Index k = 0; k < i; ++k) s -= a[std::size_t(i) * n + k] * z[std::size_t(k) * 3 + c];
      z[std::size_t(i) * 3 + c] = s / a[std::size_t(i) * n + i];
    }
  for (Index i = n - 1; i >= 0; --i)
    for (int c = 0; c < 3; ++c) {
      double s = z[std::size_t(i) * 3 + c];
      for (Index k = i + 1; k < n; ++k) s -= a[std::size_t(k) * n + i] * z[std::size_t(k) * 3 + c];
      z[std::size_t(i) * 3 + c] = s / a[std::size_t(i) * n + i];
    }
}

// z = V r on grid l, in the grid's own r and z.
void VCycle(std::vector<Grid>& grids, std::size_t l) {
  Grid& g = grids[l];
  const std::size_t len = std::size_t(g.n) * 3;
  std::fill(g.z.begin(), g.z.begin() + len, 0.0);
  if (g.dense) {
    SolveDense(g, g.r.data(), g.z.data());
    return;
  }
  if (l + 1 == grids.size()) {
    for (int s = 0; s < kCoarsestSweeps; ++s) {
      Sweep(g, true, g.r.data(), g.z.data());
      Sweep(g, false, g.r.data(), g.z.data());
    }
    return;
  }
  Sweep(g, true, g.r.data(), g.z.data());
  Multiply(g, g.z.data(), g.t.data());
  for (std::size_t i = 0; i < len; ++i) g.t[i] = g.r[i] - g.t[i];
  Grid& c = grids[l + 1];
  std::fill(c.r.begin(), c.r.end(), 0.0);
  for (Index k = 0; k < g.n; ++k)
    for (int s = 0; s < 4; ++s) {
      const Index p = g.parent[std::size_t(k) * 4 + s];
      if (p == c.n) break;
      const double w = g.weight[std::size_t(k) * 4 + s];
      for (int ch = 0; ch < 3; ++ch)
        c.r[std::size_t(p) * 3 + ch] += w * g.t[std::size_t(k) * 3 + ch];
    }
  VCycle(grids, l + 1);
  for (Index k = 0; k < g.n; ++k)
    for (int s = 0; s < 4; ++s) {
      const Index p = g.parent[std::size_t(k) * 4 + s];
      if (p == c.n) break;
      const double w = g.weight[std::size_t(k) * 4 + s];
      for (int ch = 0; ch < 3; ++ch)
        g.z[std::size_t(k) * 3 + ch] += w * c.z[std::size_t(p) * 3 + ch];
    }
  Sweep(g, false, g.r.data(), g.z.data());
}

void Dots(const Vec& a, const Vec& b, Index n, double out[3]) {
  out[0] = out[1] = out[2] = 0.0;
  for (std::size_t i = 0, end = std::size_t(n) * 3; i < end; i += 3)
    for (int c = 0; c < 3; ++c) out[c] += a[i + c] * b[i + c];
}

// b - A x into *t, and the squared norm of each channel of it.
void TrueResidual(const Grid& g, const Vec& b, const Vec& x, Vec* t, double squares[3]) {
  Multiply(g, x.data(), t->data());
  for (std::size_t i = 0, end = std::size_t(g.n) * 3; i < end; ++i) (*t)[i] = b[i] - (*t)[i];
  Dots(*t, *t, g.n, squares);
}

double RoundToByte(double v) {
  v = std::round(v);
  if (!(v > 0.0)) return 0.0;
  return v > 255.0 ? 255.0 : v;
}

// Whether the known pixels lie on one line in the sense above.
bool KnownOnOneLine(const MaskPlane& mask) {
  const int W = mask.Width(), H = mask.Height();
  std::int64_t x0 = -1, y0 = -1, dx = 0, dy = 0;
  int known = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (mask.At(x, y)) continue;
      if (W == 1 || H == 1) {
        if (++known > 1) return false;
        continue;
      }
      if (x0 < 0) {
        x0 = x;
        y0 = y;
      } else if (dx == 0 && dy == 0) {
        dx = x - x0;
        dy = y - y0;
      } else if (dx * (y - y0) - dy * (x - x0) != 0) {
        return false;
      }
    }
  return true;
}

PlateReport Refuse(FillStatus status, std::string reason) {
  PlateReport r;
  r.outcome = {status, std::move(reason)};
  return r;
}

PlateReport FromMembrane(const MembraneReport& m, std::size_t masked) {
  switch (m.status) {
    case MembraneStatus::kOk:
      break;
    case MembraneStatus::kOutOfMemory:
      return Refuse(FillStatus::kOutOfMemory,
                    "not enough memory for " + std::to_string(masked) + " masked pixels");
    default:  // the arguments were checked before
      return Refuse(FillStatus::kBadArgument, "the membrane fill refused the arguments");
  }
  PlateReport r;
  r.iterations = m.iterations;
  r.relativeResidual = m.relativeResidual;
  r.converged = m.converged;
  r.unboundedPixels = m.unboundedPixels;
  r.membraneFallback = true;
  r.levels = 1;
  return r;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}
}  // namespace

struct CPlateFill::Impl {
  std::vector<Grid> grids;
  MaskPlane builtFor;  // the mask the grids were built for
  bool built = false;
  double lambda = std::numeric_limits<double>::quiet_NaN();  // of the grids' coef
  Vec b, x, r, p, q;

  PlateReport Fill(RgbPlane* work, const MaskPlane& mask, const PlateOptions& options);
  bool SameMask(const MaskPlane& mask) const {
    return built && builtFor.Width() == mask.Width() && builtFor.Height() == mask.Height() &&
           std::memcmp(builtFor.Data(), mask.Data(), mask.Size()) == 0;
  }
};

PlateReport CPlateFill::Impl::Fill(RgbPlane* work, const MaskPlane& mask,
                                   const PlateOptions& options) {
  if (!work) return Refuse(FillStatus::kBadArgument, "no picture to fill");
  if (!std::isfinite(options.tension) || options.tension < 0.0)
    return Refuse(FillStatus::kBadArgument,
                  "tension " + Number(options.tension) + " is not a finite number >= 0");
  if (!std::isfinite(options.tolerance) || options.tolerance < 0.0)
    return Refuse(FillStatus::kBadArgument,
                  "tolerance " + Number(options.tolerance) + " is not a finite number >= 0");
  if (options.maxIterations < 0)
    return Refuse(FillStatus::kBadArgument,
                  "iteration cap " + std::to_string(options.maxIterations) + " is negative");
  const int W = work->Width(), H = work->Height();
  const FillOutcome sizes = CheckSizes(W, H, mask.Width(), mask.Height());
  if (!sizes.ok()) return Refuse(sizes.status, sizes.reason);
  std::size_t masked = 0;
  for (std::size_t i = 0; i < mask.Size(); ++i) masked += mask.Data()[i] != 0;
  // Box rows of a quarter of the unknowns must stay countable.
  if (masked > std::size_t(std::numeric_limits<Index>::max() / 8))
    return Refuse(FillStatus::kTooLarge,
                  std::to_string(masked) + " masked pixels are more than the fill can number");
  PlateReport report;
  report.converged = true;
  if (masked == 0) return report;
  if (masked == mask.Size()) {
    report.unboundedPixels = int(masked);
    return report;
  }
  if (options.tension == 0.0 && KnownOnOneLine(mask)) {
    const MembraneReport m =
        options.round ? MembraneFill(work, mask, options.tolerance, options.maxIterations)
                      : SolveMembrane(work, mask, options.tolerance, options.maxIterations);
    return FromMembrane(m, masked);
  }
  try {
    if (!SameMask(mask)) {
      built = false;
      BuildHierarchy(mask, &grids);
      builtFor = mask;
      if (builtFor.Width() != mask.Width()) throw std::bad_alloc();
      built = true;
      lambda = std::numeric_limits<double>::quiet_NaN();
    }
    if (!(lambda == options.tension)) {
      lambda = std::numeric_limits<double>::quiet_NaN();
      SetTension(options.tension, &grids);
      lambda = options.tension;
    }
    report.levels = int(grids.size());
    Grid& g = grids[0];
    const Index n = g.n;
    const std::size_t len = (std::size_t(n) + 1) * 3;

    b.assign(len, 0.0);
    for (Index k = 0; k < n; ++k) {
      const int px = g.px[k], py = g.py[k];
      const double* a = g.Row(k);
      double* bk = &b[std::size_t(k) * 3];
      for (int j = 1; j < kCrossTaps; ++j) {
        const int qx = px + kCrossDx[j], qy = py + kCrossDy[j];
        if (qx < 0 || qy < 0 || qx >= W || qy >= H || mask.At(qx, qy) || a[j] == 0.0) continue;
        const double* v = work->At(qx, qy);
        for (int c = 0; c < 3; ++c) bk[c] -= a[j] * v[c];
      }
    }
    double bNorm[3];
    Dots(b, b, n, bNorm);
    for (int c = 0; c < 3; ++c) bNorm[c] = std::sqrt(bNorm[c]);

    const double tolerance = options.tolerance;
    x.assign(len, 0.0);
    r.assign(b.begin(), b.end());
    p.assign(len, 0.0);
    q.assign(len, 0.0);
    auto precondition = [&] {
      std::copy(r.begin(), r.end(), g.r.begin());
      VCycle(grids, 0);
    };
    precondition();
    std::copy(g.z.begin(), g.z.end(), p.begin());
    double rz[3], pq[3], rr[3], check[3];
    Dots(r, g.z, n, rz);
    bool active[3];
    for (int c = 0; c < 3; ++c) active[c] = bNorm[c] > 0.0;
    const std::size_t end = std::size_t(n) * 3;
    auto anyActive = [&] { return active[0] || active[1] || active[2]; };
    while (anyActive() && report.iterations < options.maxIterations) {
      ++report.iterations;
      Multiply(g, p.data(), q.data());
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
        TrueResidual(g, b, x, &q, check);
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
      precondition();
      double rzNext[3];
      Dots(r, g.z, n, rzNext);
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        const double beta = restart[c] ? 0.0 : rzNext[c] / rz[c];
        for (std::size_t i = c; i < end; i += 3) p[i] = g.z[i] + beta * p[i];
        rz[c] = rzNext[c];
      }
    }

    TrueResidual(g, b, x, &q, check);
    report.relativeResidual = 0.0;
    for (int c = 0; c < 3; ++c) {
      const double rel = bNorm[c] > 0.0 ? std::sqrt(check[c]) / bNorm[c] : 0.0;
      if (rel > report.relativeResidual) report.relativeResidual = rel;
      if (!(rel <= tolerance)) report.converged = false;
    }
    for (Index k = 0; k < n; ++k) {
      double* out = work->At(g.px[k], g.py[k]);
      for (int c = 0; c < 3; ++c) {
        const double v = x[std::size_t(k) * 3 + c];
        out[c] = options.round ? RoundToByte(v) : v;
      }
    }
  } catch (const std::bad_alloc&) {
    built = false;
    return Refuse(FillStatus::kOutOfMemory,
                  "not enough memory for " + std::to_string(masked) + " masked pixels");
  } catch (const std::length_error&) {
    built = false;
    return Refuse(FillStatus::kOutOfMemory,
                  "not enough memory for " + std::to_string(masked) + " masked pixels");
  }
  return report;
}

CPlateFill::CPlateFill() : m_impl(new Impl) {}
CPlateFill::~CPlateFill() = default;

PlateReport CPlateFill::Fill(RgbPlane* work, const MaskPlane& mask, const PlateOptions& options) {
  return m_impl->Fill(work, mask, options);
}

PlateReport PlateFill(RgbPlane* work, const MaskPlane& mask, const PlateOptions& options) {
  try {
    CPlateFill fill;
    return fill.Fill(work, mask, options);
  } catch (const std::bad_alloc&) {
    return Refuse(FillStatus::kOutOfMemory, "not enough memory for the plate fill");
  }
}

PlateReport BiharmonicFill(RgbPlane* work, const MaskPlane& mask) {
  return PlateFill(work, mask, PlateOptions{});
}

PlateReport TensionFill(RgbPlane* work, const MaskPlane& mask, double tension) {
  PlateOptions o;
  o.tension = tension;
  return PlateFill(work, mask, o);
}
