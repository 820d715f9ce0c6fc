// Frequency-selective fill. The picture is W x H pixels of three doubles, row by row
// (pixel (x, y) at element (y * W + x) * 3).
//
// Per block, with the area's pixels placed at (m, n) = (x - x0, y - y0) of an F x F
// array (zero beyond the area):
//   w[n][m]   = rho^d for a known pixel, delta rho^d for one filled earlier, else 0,
//   phi_kl    = exp(2 pi i (k m + l n) / F),   X[l][k] = sum x[n][m] conj(phi_kl),
//   W = DFT(w),  R_c = DFT(w f_c): the weighted residual spectra of the channels,
// so DFT(w phi_uv) = W[l - v][k - u]. A step chooses (u, v) maximising
//   wf(u, v) (|R_0|^2 + |R_1|^2 + |R_2|^2),   wf = (1 - |(u', v')| / sqrt 2)^2,
// u' = 2 min(u, F - u) / F, v' likewise: 1 at the mean, 0 at the highest diagonal
// frequency. A real model takes phi_uv together with its conjugate: the weighted
// least-squares coefficient of the pair c phi + conj(c phi) solves
//   c W0 + conj(c) W2 = R_c(u, v),  W0 = W[0][0], W2 = W[2v][2u],
// i.e. c = (R W0 - conj(R) W2) / (W0^2 - |W2|^2); a frequency equal to its own
// conjugate (both indices 0 or F/2) has the real c = Re R / W0. gamma c is added to
// the model and
//   R_c[l][k] -= gamma c W[l - v][k - u] + conj(gamma c) W[l + v][k + u].
// The residual spectrum of a real residual is Hermitian, so rows 0 .. F/2 are kept
// and searched; W is kept whole, twice over along each row so that a shifted row is
// one contiguous run. Indices are taken modulo F.
//
// Order: the blocks with a pixel to fill, by the number of known pixels in their
// area, most first (ties in row order); a block whose area has no weight at all
// waits for a later pass, when its neighbours have been filled. Every sum runs in
// a fixed order, so the result is the same bits on every run.
//
// The transforms are taken in double precision; the spectra that every step updates
// (and searches) are single precision, which halves the work of the steps and moves a
// filled value by far less than the rounding to whole values. The steps have a plain
// and an AVX2 kernel that compute every element alike and find the largest energy
// exactly, so both give the same bits.
#include "engine/texture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "engine/fft.h"

namespace {
using Real = float;  // the spectra of the steps

struct Tile {
  int x, y;   // top-left pixel
  int known;  // known pixels in the area
};

struct Chosen {
  int u, v;
  bool real;
  double re[3], im[3];  // gamma c per channel
};

// Scratch of one block, F x F arrays row by row.
struct Workspace {
  Workspace(int F, const TextureOptions& o)
      : fourier(F),
        wRe(std::size_t(F) * F),
        wIm(std::size_t(F) * F),
        wExtRe(std::size_t(F) * 2 * F),
        wExtIm(std::size_t(F) * 2 * F),
        freqWeight(std::size_t(F / 2 + 1) * F),
        energy(std::size_t(F / 2 + 1) * F) {
    for (int c = 0; c < 3; ++c) {
      rRe[c].resize(std::size_t(F) * F);
      rIm[c].resize(std::size_t(F) * F);
    }
    for (int k = 0; k < 2; ++k) {
      packRe[k].resize(std::size_t(F) * F);
      packIm[k].resize(std::size_t(F) * F);
    }
    // rho^d by (2 dx)^2 + (2 dy)^2: a pixel lies at most block + border from the centre.
    const int reach = o.block + 2 * o.border;
    decay.resize(std::size_t(2 * reach * reach) + 1);
    for (std::size_t q = 0; q < decay.size(); ++q)
      decay[q] = std::pow(o.decay, 0.5 * std::sqrt(double(q)));
    for (int l = 0; l <= F / 2; ++l)
      for (int k = 0; k < F; ++k) {
        const double u = 2.0 * std::min(k, F - k) / F, v = 2.0 * std::min(l, F - l) / F;
        const double f = 1.0 - std::sqrt(u * u + v * v) / std::sqrt(2.0);
        freqWeight[std::size_t(l) * F + k] = f * f;
      }
  }
  CFourier2d fourier;
  std::vector<double> wRe, wIm, decay;
  std::vector<double> packRe[2], packIm[2];  // the transforms' input, two real arrays in each
  std::vector<Real> wExtRe, wExtIm, freqWeight, energy;
  std::vector<Real> rRe[3], rIm[3];
  std::vector<Chosen> chosen;
};

// e = wf (|R_0|^2 + |R_1|^2 + |R_2|^2) over row l.
__attribute__((always_inline)) inline void RowEnergy(const Workspace& s, int F, int l, Real* e) {
  const std::size_t o = std::size_t(l) * F;
  const Real* fw = &s.freqWeight[o];
  const Real *r0 = &s.rRe[0][o], *i0 = &s.rIm[0][o];
  const Real *r1 = &s.rRe[1][o], *i1 = &s.rIm[1][o];
  const Real *r2 = &s.rRe[2][o], *i2 = &s.rIm[2][o];
  for (int k = 0; k < F; ++k)
    e[k] = fw[k] *
           (((((r0[k] * r0[k] + i0[k] * i0[k]) + r1[k] * r1[k]) + i1[k] * i1[k]) + r2[k] * r2[k]) +
            i2[k] * i2[k]);
}

// The largest of e[0 .. n), n a multiple of 4 (the energies are never NaN, so the
// order of comparison does not matter).
Real LargestPlain(const Real* e, std::size_t n) {
  Real m = e[0];
  for (std::size_t k = 1; k < n; ++k) m = e[k] > m ? e[k] : m;
  return m;
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) Real LargestAvx2(const Real* e, std::size_t n) {
  __m256 m = _mm256_loadu_ps(e);
  for (std::size_t k = 8; k < n; k += 8) m = _mm256_max_ps(m, _mm256_loadu_ps(e + k));
  Real lanes[8];
  _mm256_storeu_ps(lanes, m);
  return LargestPlain(lanes, 8);
}
#endif

// The basis functions of one block, chosen into s->chosen from the spectra.
template <bool kAvx2>
__attribute__((always_inline)) inline void ChooseBody(const TextureOptions& o, Workspace* s) {
  const int F = o.transform;
  const double w0 = s->wRe[0];
  const int rows = F / 2 + 1, mask = F - 1;
  const std::size_t count = std::size_t(rows) * F;
  Real* energy = s->energy.data();
  for (int l = 0; l < rows; ++l) RowEnergy(*s, F, l, energy + std::size_t(l) * F);
  s->chosen.clear();
  for (int it = 0; it < o.iterations; ++it) {
#if defined(__x86_64__) && defined(__GNUC__)
    const Real best = kAvx2 ? LargestAvx2(energy, count) : LargestPlain(energy, count);
#else
    const Real best = LargestPlain(energy, count);
#endif
    if (!(best > 0.0)) break;
    std::size_t at = 0;
    while (energy[at] != best) ++at;  // the first in row order
    const int bu = int(at % std::size_t(F)), bv = int(at / std::size_t(F));
    Chosen ch;
    ch.u = bu;
    ch.v = bv;
    ch.real = ((2 * bu) & mask) == 0 && ((2 * bv) & mask) == 0;
    const std::size_t twice = std::size_t((2 * bv) & mask) * F + ((2 * bu) & mask);
    const double w2r = s->wRe[twice], w2i = s->wIm[twice];
    const double det = w0 * w0 - (w2r * w2r + w2i * w2i);
    for (int c = 0; c < 3; ++c) {
      const double ar = s->rRe[c][at], ai = s->rIm[c][at];
      double cr, ci;
      if (ch.real) {
        cr = ar / w0;
        ci = 0.0;
      } else if (det > 1e-9 * w0 * w0) {
        // (a W0 - conj(a) W2) / det
        cr = (ar * w0 - (ar * w2r + ai * w2i)) / det;
        ci = (ai * w0 - (ar * w2i - ai * w2r)) / det;
      } else {  // the pair is all but dependent under the weight: half to each
        cr = 0.5 * ar / w0;
        ci = 0.5 * ai / w0;
      }
      ch.re[c] = o.compensation * cr;
      ch.im[c] = o.compensation * ci;
    }
    s->chosen.push_back(ch);
    for (int l = 0; l < rows; ++l) {
      const Real* aRe = &s->wExtRe[std::size_t((l - bv) & mask) * 2 * F + (F - bu)];
      const Real* aIm = &s->wExtIm[std::size_t((l - bv) & mask) * 2 * F + (F - bu)];
      const Real* bRe = &s->wExtRe[std::size_t((l + bv) & mask) * 2 * F + bu];
      const Real* bIm = &s->wExtIm[std::size_t((l + bv) & mask) * 2 * F + bu];
      for (int c = 0; c < 3; ++c) {
        Real* re = &s->rRe[c][std::size_t(l) * F];
        Real* im = &s->rIm[c][std::size_t(l) * F];
        const Real dr = Real(ch.re[c]), di = Real(ch.im[c]);
        if (ch.real) {
          for (int k = 0; k < F; ++k) {
            re[k] -= dr * aRe[k];
            im[k] -= dr * aIm[k];
          }
        } else {
          for (int k = 0; k < F; ++k) {
            re[k] -= (dr * aRe[k] - di * aIm[k]) + (dr * bRe[k] + di * bIm[k]);
            im[k] -= (dr * aIm[k] + di * aRe[k]) + (dr * bIm[k] - di * bRe[k]);
          }
        }
      }
      RowEnergy(*s, F, l, energy + std::size_t(l) * F);
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void ChooseAvx2(const TextureOptions& o, Workspace* s) {
  ChooseBody<true>(o, s);
}
#endif

void ChoosePlain(const TextureOptions& o, Workspace* s) { ChooseBody<false>(o, s); }

// The same bits either way: the vector kernels compute every element as the plain
// ones do, and the largest energy is found exactly.
void Choose(const TextureOptions& o, Workspace* s) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && o.vectorKernel) return ChooseAvx2(o, s);
#endif
  ChoosePlain(o, s);
}

// Models one block and writes its unknown pixels; false when its area has no weight.
bool FillBlock(RgbPlane* work, const MaskPlane& fill, const MaskPlane* hidden,
               std::vector<unsigned char>* filled, const Tile& tile, const TextureOptions& o,
               Workspace* s) {
  const int W = work->Width(), H = work->Height(), F = o.transform, B = o.block;
  const int x0 = std::max(0, tile.x - o.border), y0 = std::max(0, tile.y - o.border);
  const int x1 = std::min(W, tile.x + B + o.border), y1 = std::min(H, tile.y + B + o.border);
  const int bx1 = std::min(W, tile.x + B), by1 = std::min(H, tile.y + B);
  const int cx2 = tile.x + bx1 - 1, cy2 = tile.y + by1 - 1;  // twice the centre

  for (int k = 0; k < 2; ++k) {
    std::fill(s->packRe[k].begin(), s->packRe[k].end(), 0.0);
    std::fill(s->packIm[k].begin(), s->packIm[k].end(), 0.0);
  }
  double total = 0.0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const std::size_t cell = std::size_t(y) * W + x;
      double share;
      if (fill.At(x, y))
        share = (*filled)[cell] ? o.reconstructedWeight : 0.0;
      else
        share = hidden && hidden->At(x, y) ? 0.0 : 1.0;
      if (share == 0.0) continue;
      const int ex = 2 * x - cx2, ey = 2 * y - cy2;
      const double w = share * s->decay[std::size_t(ex * ex + ey * ey)];
      const std::size_t i = std::size_t(y - y0) * F + (x - x0);
      total += w;
      const double* v = work->At(x, y);
      s->packRe[0][i] = w;
      s->packIm[0][i] = w * v[0];
      s->packRe[1][i] = w * v[1];
      s->packIm[1][i] = w * v[2];
    }
  if (!(total > 0.0)) return false;

  // Two real arrays per complex transform, X = DFT(a + i b): then
  // DFT(a)[k] = (X[k] + conj X[-k]) / 2 and DFT(b)[k] = (X[k] - conj X[-k]) / 2i.
  const int rows = y1 - y0;
  s->fourier.Forward(s->packRe[0].data(), s->packIm[0].data(), rows);  // w, w f_0
  s->fourier.Forward(s->packRe[1].data(), s->packIm[1].data(), rows);  // w f_1, w f_2
  for (int l = 0; l < F; ++l)
    for (int k = 0; k < F; ++k) {
      const std::size_t at = std::size_t(l) * F + k;
      const std::size_t neg = std::size_t((F - l) & (F - 1)) * F + ((F - k) & (F - 1));
      const double xr = s->packRe[0][at], xi = s->packIm[0][at];
      const double yr = s->packRe[0][neg], yi = s->packIm[0][neg];
      s->wRe[at] = 0.5 * (xr + yr);
      s->wIm[at] = 0.5 * (xi - yi);
      if (l > F / 2) continue;
      s->rRe[0][at] = Real(0.5 * (xi + yi));
      s->rIm[0][at] = Real(0.5 * (yr - xr));
      const double ur = s->packRe[1][at], ui = s->packIm[1][at];
      const double vr = s->packRe[1][neg], vi = s->packIm[1][neg];
      s->rRe[1][at] = Real(0.5 * (ur + vr));
      s->rIm[1][at] = Real(0.5 * (ui - vi));
      s->rRe[2][at] = Real(0.5 * (ui + vi));
      s->rIm[2][at] = Real(0.5 * (vr - ur));
    }
  for (int l = 0; l < F; ++l)
    for (int k = 0; k < 2 * F; ++k) {
      s->wExtRe[std::size_t(l) * 2 * F + k] = Real(s->wRe[std::size_t(l) * F + (k % F)]);
      s->wExtIm[std::size_t(l) * 2 * F + k] = Real(s->wIm[std::size_t(l) * F + (k % F)]);
    }

  Choose(o, s);

  for (int y = tile.y; y < by1; ++y)
    for (int x = tile.x; x < bx1; ++x) {
      if (!fill.At(x, y)) continue;
      const int m = x - x0, n = y - y0;
      double v[3] = {0.0, 0.0, 0.0};
      for (const Chosen& ch : s->chosen) {
        const int turn = ch.u * m + ch.v * n;
        const double cs = s->fourier.CosTurn(turn), sn = s->fourier.SinTurn(turn);
        for (int c = 0; c < 3; ++c)
          v[c] += ch.real ? ch.re[c] * cs : 2.0 * (ch.re[c] * cs - ch.im[c] * sn);
      }
      double* out = work->At(x, y);
      for (int c = 0; c < 3; ++c) {
        const double r = std::round(v[c]);
        out[c] = r > 0.0 ? (r < 255.0 ? r : 255.0) : 0.0;
      }
      (*filled)[std::size_t(y) * W + x] = 1;
    }
  return true;
}

TextureReport Refuse(FillStatus status, std::string reason) {
  TextureReport r;
  r.outcome = {status, std::move(reason)};
  return r;
}

bool PowerOfTwo(int v) { return v >= 2 && (v & (v - 1)) == 0; }

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}
}  // namespace

TextureReport TextureFill(RgbPlane* work, const MaskPlane& mask, const TextureOptions& o,
                          const MaskPlane* hidden) {
  if (!work) return Refuse(FillStatus::kBadArgument, "no picture to fill");
  if (o.block < 1 || o.block > 64)
    return Refuse(FillStatus::kBadArgument, "block " + std::to_string(o.block) + " is not 1 .. 64");
  if (o.border < 0 || o.border > 64)
    return Refuse(FillStatus::kBadArgument,
                  "border " + std::to_string(o.border) + " is not 0 .. 64");
  if (!PowerOfTwo(o.transform) || o.transform > 256 || o.transform < o.block + 2 * o.border)
    return Refuse(FillStatus::kBadArgument, "transform " + std::to_string(o.transform) +
                                                " is not a power of two from block + 2 border (" +
                                                std::to_string(o.block + 2 * o.border) +
                                                ") to 256");
  if (o.iterations < 1 || o.iterations > 10000)
    return Refuse(FillStatus::kBadArgument,
                  "iterations " + std::to_string(o.iterations) + " is not 1 .. 10000");
  if (!(o.decay > 0.0 && o.decay <= 1.0))
    return Refuse(FillStatus::kBadArgument, "decay " + Number(o.decay) + " is not in (0, 1]");
  if (!(o.compensation > 0.0 && o.compensation <= 1.0))
    return Refuse(FillStatus::kBadArgument,
                  "compensation " + Number(o.compensation) + " is not in (0, 1]");
  if (!(o.reconstructedWeight >= 0.0 && o.reconstructedWeight <= 1.0))
    return Refuse(FillStatus::kBadArgument,
                  "reconstructed weight " + Number(o.reconstructedWeight) + " is not in [0, 1]");
  const int W = work->Width(), H = work->Height();
  FillOutcome sizes = CheckSizes(W, H, mask.Width(), mask.Height());
  if (!sizes.ok()) return Refuse(sizes.status, sizes.reason);
  if (hidden) {
    sizes = CheckSizes(W, H, hidden->Width(), hidden->Height());
    if (!sizes.ok()) return Refuse(sizes.status, "hidden pixels: " + sizes.reason);
  }
  TextureReport report;
  try {
    const int B = o.block;
    const int tilesX = (W + B - 1) / B, tilesY = (H + B - 1) / B;
    std::vector<Tile> tiles;
    for (int ty = 0; ty < tilesY; ++ty)
      for (int tx = 0; tx < tilesX; ++tx) {
        const int x = tx * B, y = ty * B;
        bool any = false;
        for (int yy = y; yy < std::min(H, y + B) && !any; ++yy)
          for (int xx = x; xx < std::min(W, x + B); ++xx)
            if (mask.At(xx, yy)) {
              any = true;
              break;
            }
        if (!any) continue;
        int known = 0;
        for (int yy = std::max(0, y - o.border); yy < std::min(H, y + B + o.border); ++yy)
          for (int xx = std::max(0, x - o.border); xx < std::min(W, x + B + o.border); ++xx)
            known += !mask.At(xx, yy) && !(hidden && hidden->At(xx, yy));
        tiles.push_back({x, y, known});
      }
    std::stable_sort(tiles.begin(), tiles.end(),
                     [](const Tile& a, const Tile& b) { return a.known > b.known; });
    std::vector<unsigned char> filled(std::size_t(W) * H, 0);
    Workspace s(o.transform, o);
    std::vector<Tile> waiting;
    while (!tiles.empty()) {
      waiting.clear();
      for (const Tile& t : tiles) {
        if (FillBlock(work, mask, hidden, &filled, t, o, &s))
          ++report.blocks;
        else
          waiting.push_back(t);
      }
      if (waiting.size() == tiles.size()) break;  // nothing known anywhere
      tiles.swap(waiting);
      waiting.clear();
    }
    for (const Tile& t : waiting)
      for (int y = t.y; y < std::min(H, t.y + B); ++y)
        for (int x = t.x; x < std::min(W, t.x + B); ++x)
          report.unboundedPixels += mask.At(x, y) != 0;
  } catch (const std::bad_alloc&) {
    return Refuse(FillStatus::kOutOfMemory, "not enough memory for the texture fill");
  } catch (const std::length_error&) {
    return Refuse(FillStatus::kOutOfMemory, "not enough memory for the texture fill");
  }
  return report;
}
