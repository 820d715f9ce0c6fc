#include "engine/fft.h"

#include <cmath>
#include <utility>

CFourier2d::CFourier2d(int side) : m_nSide(side), m_nLog(0) {
  while ((1 << m_nLog) < side) ++m_nLog;
  m_reversed.resize(std::size_t(side));
  for (int i = 0; i < side; ++i) {
    int r = 0;
    for (int b = 0; b < m_nLog; ++b)
      if (i & (1 << b)) r |= 1 << (m_nLog - 1 - b);
    m_reversed[std::size_t(i)] = r;
  }
  m_cos.resize(std::size_t(side));
  m_sin.resize(std::size_t(side));
  const double turn = 2.0 * std::acos(-1.0) / double(side);
  for (int j = 0; j < side; ++j) {
    m_cos[std::size_t(j)] = std::cos(turn * j);
    m_sin[std::size_t(j)] = std::sin(turn * j);
  }
}

void CFourier2d::Transform1d(double* re, double* im, int stride) const {
  const int F = m_nSide;
  for (int i = 0; i < F; ++i) {
    const int r = m_reversed[std::size_t(i)];
    if (r > i) {
      std::swap(re[std::size_t(i) * stride], re[std::size_t(r) * stride]);
      std::swap(im[std::size_t(i) * stride], im[std::size_t(r) * stride]);
    }
  }
  for (int half = 1; half < F; half *= 2) {
    const int step = F / (2 * half);  // twiddle exp(-2 pi i j / (2 half)) = turn -j step
    for (int start = 0; start < F; start += 2 * half)
      for (int j = 0; j < half; ++j) {
        const double c = m_cos[std::size_t(j * step)], s = -m_sin[std::size_t(j * step)];
        const std::size_t a = std::size_t(start + j) * stride,
                          b = std::size_t(start + j + half) * stride;
        const double tr = re[b] * c - im[b] * s, ti = re[b] * s + im[b] * c;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] = re[a] + tr;
        im[a] = im[a] + ti;
      }
  }
}

void CFourier2d::Forward(double* re, double* im, int rows) const {
  const int F = m_nSide;
  for (int n = 0; n < rows && n < F; ++n)
    Transform1d(re + std::size_t(n) * F, im + std::size_t(n) * F, 1);
  for (int m = 0; m < F; ++m) Transform1d(re + m, im + m, F);
}
