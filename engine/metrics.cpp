// Quality measures. A plane holds W x H pixels of three values (red, green, blue;
// 0..255; doubles, or the bytes of a picture as loaded) row by row, pixel (x, y) at
// element (y * W + x) * 3; a mask cell is non-zero for a pixel to restore. A byte is
// read as double(byte), exact, so a measure has the same bits over bytes as over
// doubles of the same whole values.
//
// Masked PSNR over the n masked pixels p and the channels c, peak 255:
//   mse = sum_p sum_c (ref_c(p) - img_c(p))^2 / (3 n),  PSNR = 20 log10(255 / sqrt(mse)).
//
// SSIM as Wang, Bovik, Sheikh and Simoncelli define it ("Image quality assessment:
// from error visibility to structural similarity", IEEE Trans. Image Processing
// 13(4), 2004), taken on each channel alone, with no downsampling:
//   window  w(i, j) = g(i) g(j),  g(i) = exp(-i^2 / (2 1.5^2)) / sum_k exp(-k^2 / (2 1.5^2)),
//           i, j, k = -5..5: the 11 x 11 circular Gaussian, normalised to sum 1;
//   at a centre (x, y) with 5 <= x < W - 5 and 5 <= y < H - 5, E[f] = sum_ij w(i, j) f(x+i, y+j):
//           mu_a = E[a], mu_b = E[b],
//           s_aa = E[a^2] - mu_a^2, s_bb = E[b^2] - mu_b^2, s_ab = E[a b] - mu_a mu_b,
//           ssim = ((2 mu_a mu_b + C1)(2 s_ab + C2)) / ((mu_a^2 + mu_b^2 + C1)(s_aa + s_bb + C2)),
//           C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2.
// Border rule: only windows wholly inside the picture count; there is no padding.
// A channel's SSIM is the mean of its map over the centres taken, the picture's the
// mean of the three channels.
//
// The window sums are separable. For each row of centres a vertical pass weights the
// 11 picture rows of the window, element by element over whole rows (the three
// channels side by side, so consecutive doubles); a horizontal pass then weights 11
// neighbouring pixels, elements three apart. Both passes use g(i) = g(-i):
// g0 v0 + g1 (v-1 + v1) + ... + g5 (v-5 + v5), summed in that order. The squares and
// products a^2, b^2, a b of a picture row are made once, into a ring of 11 rows.
#include "engine/metrics.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace {
constexpr int kRadius = 5;
constexpr int kSide = 2 * kRadius + 1;
constexpr double kSigma = 1.5;
constexpr double kC1 = (0.01 * 255.0) * (0.01 * 255.0);
constexpr double kC2 = (0.03 * 255.0) * (0.03 * 255.0);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// g(0) .. g(5) of the normalised one-dimensional Gaussian.
struct HalfWindow {
  double g[kRadius + 1];
};

HalfWindow MakeHalfWindow() {
  double e[kRadius + 1];
  for (int i = 0; i <= kRadius; ++i) e[i] = std::exp(-double(i * i) / (2.0 * kSigma * kSigma));
  double sum = e[0];
  for (int i = 1; i <= kRadius; ++i) sum += 2.0 * e[i];
  HalfWindow w;
  for (int i = 0; i <= kRadius; ++i) w.g[i] = e[i] / sum;
  return w;
}

const HalfWindow& Window() {
  static const HalfWindow window = MakeHalfWindow();
  return window;
}

// out[j] = the window weighting of rows[0..10][j], j < n.
template <typename T>
void VerticalPass(const T* const* rows, std::size_t n, const double* g, double* __restrict out) {
  const T *m5 = rows[0], *m4 = rows[1], *m3 = rows[2], *m2 = rows[3], *m1 = rows[4];
  const T *c = rows[5], *p1 = rows[6], *p2 = rows[7], *p3 = rows[8], *p4 = rows[9];
  const T* p5 = rows[10];
  const double g0 = g[0], g1 = g[1], g2 = g[2], g3 = g[3], g4 = g[4], g5 = g[5];
  for (std::size_t j = 0; j < n; ++j)
    out[j] = g0 * double(c[j]) + g1 * (double(m1[j]) + double(p1[j])) +
             g2 * (double(m2[j]) + double(p2[j])) + g3 * (double(m3[j]) + double(p3[j])) +
             g4 * (double(m4[j]) + double(p4[j])) + g5 * (double(m5[j]) + double(p5[j]));
}

// out[j] = the window weighting of v[j], v[j + 3], ..., v[j + 30], j < n: the
// pixels of one channel, three doubles apart.
void HorizontalPass(const double* v, std::size_t n, const double* g, double* __restrict out) {
  const double g0 = g[0], g1 = g[1], g2 = g[2], g3 = g[3], g4 = g[4], g5 = g[5];
  for (std::size_t j = 0; j < n; ++j)
    out[j] = g0 * v[j + 15] + g1 * (v[j + 12] + v[j + 18]) + g2 * (v[j + 9] + v[j + 21]) +
             g3 * (v[j + 6] + v[j + 24]) + g4 * (v[j + 3] + v[j + 27]) + g5 * (v[j] + v[j + 30]);
}

template <typename A, typename B>
bool SameSize(const A& a, const B& b) {
  return a.Width() == b.Width() && a.Height() == b.Height();
}

// Adds the SSIM map of each channel over the centres cx0 <= x < cx1, cy0 <= y < cy1
// (every window inside the picture) to sum[c]. Throws std::bad_alloc.
template <typename Picture>
void AddSsimMap(const Picture& a, const Picture& b, int cx0, int cy0, int cx1, int cy1,
                double sum[3]) {
  const double* g = Window().g;
  const int firstX = cx0 - kRadius;
  const std::size_t span = std::size_t(cx1 - cx0 + 2 * kRadius) * 3;  // doubles read per row
  const std::size_t outN = std::size_t(cx1 - cx0) * 3;

  // Ring slot s holds a^2, b^2 and a b of the picture rows r with r % 11 == s.
  std::vector<double> ring(std::size_t(kSide) * 3 * span);
  auto Products = [&](int r) { return ring.data() + std::size_t(r % kSide) * 3 * span; };
  auto MakeProducts = [&](int r) {
    const auto* pa = a.At(firstX, r);
    const auto* pb = b.At(firstX, r);
    double* aa = Products(r);
    double* bb = aa + span;
    double* ab = bb + span;
    for (std::size_t j = 0; j < span; ++j) {
      const double va = double(pa[j]), vb = double(pb[j]);
      aa[j] = va * va;
      bb[j] = vb * vb;
      ab[j] = va * vb;
    }
  };

  enum { kA, kB, kAA, kBB, kAB, kQuantities };
  std::vector<double> vertical(kQuantities * span);
  std::vector<double> local(kQuantities * outN);  // E[a], E[b], E[a^2], E[b^2], E[a b]
  std::vector<double> map(outN);

  const int firstTop = cy0 - kRadius, endTop = cy1 - kRadius;
  for (int r = firstTop; r < firstTop + kSide - 1; ++r) MakeProducts(r);
  for (int top = firstTop; top < endTop; ++top) {
    MakeProducts(top + kSide - 1);
    decltype(a.At(0, 0)) rowsA[kSide];
    decltype(b.At(0, 0)) rowsB[kSide];
    const double* rows[kQuantities][kSide];
    for (int i = 0; i < kSide; ++i) {
      rowsA[i] = a.At(firstX, top + i);
      rowsB[i] = b.At(firstX, top + i);
      rows[kAA][i] = Products(top + i);
      rows[kBB][i] = rows[kAA][i] + span;
      rows[kAB][i] = rows[kAA][i] + 2 * span;
    }
    for (int q = 0; q < kQuantities; ++q) {
      if (q == kA)
        VerticalPass(rowsA, span, g, vertical.data() + q * span);
      else if (q == kB)
        VerticalPass(rowsB, span, g, vertical.data() + q * span);
      else
        VerticalPass(rows[q], span, g, vertical.data() + q * span);
      HorizontalPass(vertical.data() + q * span, outN, g, local.data() + q * outN);
    }
    const double* ea = local.data() + kA * outN;
    const double* eb = local.data() + kB * outN;
    const double* eaa = local.data() + kAA * outN;
    const double* ebb = local.data() + kBB * outN;
    const double* eab = local.data() + kAB * outN;
    for (std::size_t j = 0; j < outN; ++j) {
      const double maa = ea[j] * ea[j], mbb = eb[j] * eb[j], mab = ea[j] * eb[j];
      const double saa = eaa[j] - maa, sbb = ebb[j] - mbb, sab = eab[j] - mab;
      map[j] = ((2.0 * mab + kC1) * (2.0 * sab + kC2)) / ((maa + mbb + kC1) * (saa + sbb + kC2));
    }
    for (std::size_t j = 0; j < outN; j += 3) {
      sum[0] += map[j];
      sum[1] += map[j + 1];
      sum[2] += map[j + 2];
    }
  }
}

// The mean SSIM over the centres of [x0, x1) x [y0, y1) where the window fits.
template <typename Picture>
double SsimOverCentres(const Picture& a, const Picture& b, int x0, int y0, int x1, int y1) {
  if (!SameSize(a, b)) return kNaN;
  const int W = a.Width(), H = a.Height();
  if (W < kSide || H < kSide) return kNaN;
  const int cx0 = x0 > kRadius ? x0 : kRadius;
  const int cy0 = y0 > kRadius ? y0 : kRadius;
  const int cx1 = x1 < W - kRadius ? x1 : W - kRadius;
  const int cy1 = y1 < H - kRadius ? y1 : H - kRadius;
  if (cx0 >= cx1 || cy0 >= cy1) return kNaN;
  double sum[3] = {0.0, 0.0, 0.0};
  try {
    AddSsimMap(a, b, cx0, cy0, cx1, cy1, sum);
  } catch (const std::bad_alloc&) {
    return kNaN;
  } catch (const std::length_error&) {
    return kNaN;
  }
  const double count = double(cx1 - cx0) * double(cy1 - cy0);
  return (sum[0] / count + sum[1] / count + sum[2] / count) / 3.0;
}
}  // namespace

template <typename Picture>
double MaskedPsnr(const Picture& reference, const Picture& image, const MaskPlane& mask) {
  if (!SameSize(reference, image) || !SameSize(reference, mask)) return kNaN;
  const int W = reference.Width(), H = reference.Height();
  double squares = 0.0;
  std::size_t count = 0;
  for (int y = 0; y < H; ++y) {
    const unsigned char* m = &mask.At(0, y);
    const auto* r = reference.At(0, y);
    const auto* v = image.At(0, y);
    for (int x = 0; x < W; ++x, r += 3, v += 3) {
      if (!m[x]) continue;
      for (int c = 0; c < 3; ++c) {
        const double e = double(r[c]) - double(v[c]);
        squares += e * e;
      }
      ++count;
    }
  }
  if (count == 0) return kNaN;
  if (squares == 0.0) return std::numeric_limits<double>::infinity();
  const double mse = squares / (3.0 * double(count));
  return 20.0 * std::log10(255.0 / std::sqrt(mse));
}

bool MaskBoundingBox(const MaskPlane& mask, PixelBox* box) {
  const int W = mask.Width(), H = mask.Height();
  PixelBox found;
  found.x0 = W;
  found.y0 = H;
  bool any = false;
  for (int y = 0; y < H; ++y) {
    const unsigned char* m = &mask.At(0, y);
    for (int x = 0; x < W; ++x) {
      if (!m[x]) continue;
      any = true;
      if (x < found.x0) found.x0 = x;
      if (x >= found.x1) found.x1 = x + 1;
      if (y < found.y0) found.y0 = y;
      found.y1 = y + 1;
    }
  }
  if (box) *box = any ? found : PixelBox();
  return any;
}

template <typename Picture>
double Ssim(const Picture& a, const Picture& b) {
  return SsimOverCentres(a, b, 0, 0, a.Width(), a.Height());
}

template <typename Picture>
double SsimInBox(const Picture& a, const Picture& b, const PixelBox& box) {
  return SsimOverCentres(a, b, box.x0, box.y0, box.x1, box.y1);
}

template <typename Picture>
MaskedErrors MeasureMaskedErrors(const Picture& reference, const Picture& image,
                                 const MaskPlane& mask) {
  MaskedErrors e{kNaN, {kNaN, kNaN, kNaN}};
  if (!SameSize(reference, image) || !SameSize(reference, mask)) return e;
  double absolute = 0.0, squares[3] = {0.0, 0.0, 0.0};
  std::size_t n = 0;
  for (int y = 0; y < reference.Height(); ++y) {
    const unsigned char* m = &mask.At(0, y);
    const auto* r = reference.At(0, y);
    const auto* v = image.At(0, y);
    for (int x = 0; x < reference.Width(); ++x, r += 3, v += 3) {
      if (!m[x]) continue;
      ++n;
      for (int c = 0; c < 3; ++c) {
        const double d = double(r[c]) - double(v[c]);
        absolute += std::fabs(d);
        squares[c] += d * d;
      }
    }
  }
  if (n == 0) return e;
  e.meanAbsolute = absolute / (3.0 * double(n));
  for (int c = 0; c < 3; ++c) {
    const double mse = squares[c] / double(n);
    e.channelPsnr[c] = mse == 0.0 ? std::numeric_limits<double>::infinity()
                                  : 20.0 * std::log10(255.0 / std::sqrt(mse));
  }
  return e;
}

template <typename Picture>
QualityMetrics MeasureQuality(const Picture& original, const Picture& damaged,
                              const Picture& result, const MaskPlane& mask) {
  QualityMetrics m;
  m.psnrHoleDamaged = m.psnrHoleResult = kNaN;
  m.ssimDamaged = m.ssimResult = kNaN;
  m.ssimBoxDamaged = m.ssimBoxResult = kNaN;
  m.box = PixelBox();
  m.hasBox = false;
  m.holeDamaged = m.holeResult = MaskedErrors{kNaN, {kNaN, kNaN, kNaN}};
  if (!SameSize(original, damaged) || !SameSize(original, result) || !SameSize(original, mask))
    return m;
  m.psnrHoleDamaged = MaskedPsnr(original, damaged, mask);
  m.psnrHoleResult = MaskedPsnr(original, result, mask);
  m.holeDamaged = MeasureMaskedErrors(original, damaged, mask);
  m.holeResult = MeasureMaskedErrors(original, result, mask);
  m.ssimDamaged = Ssim(original, damaged);
  m.ssimResult = Ssim(original, result);
  m.hasBox = MaskBoundingBox(mask, &m.box);
  if (m.hasBox) {
    // A box over the whole picture takes the same centres as the whole SSIM; scratches
    // that reach all four edges make that the common case, and the two maps cost more
    // than the run they measure.
    const bool whole = m.box.x0 == 0 && m.box.y0 == 0 && m.box.x1 == original.Width() &&
                       m.box.y1 == original.Height();
    m.ssimBoxDamaged = whole ? m.ssimDamaged : SsimInBox(original, damaged, m.box);
    m.ssimBoxResult = whole ? m.ssimResult : SsimInBox(original, result, m.box);
  }
  return m;
}

#define RUVANTA_METRICS_FOR(Picture)                                                        \
  template double MaskedPsnr(const Picture&, const Picture&, const MaskPlane&);             \
  template MaskedErrors MeasureMaskedErrors(const Picture&, const Picture&, const MaskPlane&); \
  template double Ssim(const Picture&, const Picture&);                                     \
  template double SsimInBox(const Picture&, const Picture&, const PixelBox&);               \
  template QualityMetrics MeasureQuality(const Picture&, const Picture&, const Picture&,    \
                                         const MaskPlane&);
RUVANTA_METRICS_FOR(RgbPlane)
RUVANTA_METRICS_FOR(BytePlane)
#undef RUVANTA_METRICS_FOR
