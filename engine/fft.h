// Discrete Fourier transforms of square arrays whose side is a power of two, for the
// frequency-selective fill.
//
// The forward transform of x[n][m] (n the row, m the column) is
//   X[l][k] = sum over m, n of x[n][m] exp(-2 pi i (k m + l n) / F),
// unnormalised, held as separate real and imaginary arrays, row by row. Radix-2,
// decimation in time: bit-reversed order, then log2 F passes of butterflies over the
// rows and again over the columns; every sum runs in the same order on every call.
#pragma once

#include <vector>

class CFourier2d {
 public:
  // side: a power of two from 2 to 1024.
  explicit CFourier2d(int side);
  int Side() const { return m_nSide; }
  // re, im: Side() x Side() values, transformed in place. Rows from `rows` on must be
  // zero (their row transforms are skipped).
  void Forward(double* re, double* im, int rows) const;
  void Forward(double* re, double* im) const { Forward(re, im, m_nSide); }
  // exp(2 pi i j / F) for j = 0 .. F - 1: the basis functions' values.
  double CosTurn(int j) const { return m_cos[std::size_t(j & (m_nSide - 1))]; }
  double SinTurn(int j) const { return m_sin[std::size_t(j & (m_nSide - 1))]; }

 private:
  void Transform1d(double* re, double* im, int stride) const;
  int m_nSide;
  int m_nLog;
  std::vector<int> m_reversed;
  std::vector<double> m_cos, m_sin;
};
