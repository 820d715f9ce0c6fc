// Storage of the planes and grids: sized to the picture, zero-filled when made,
// and never half-made: a failed allocation leaves the previous contents.
#include "engine/planes.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

namespace {
// width x height x per elements of `size` bytes, or 0 when that does not fit.
std::size_t Elements(int width, int height, std::size_t per, std::size_t size) {
  if (width < 0 || height < 0) return 0;
  const std::size_t w = std::size_t(width), h = std::size_t(height);
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / size / per;
  if (h != 0 && w > limit / h) return 0;
  return w * h * per;
}

template <typename T>
bool Allocate(std::vector<T>* out, int width, int height, std::size_t per) {
  const std::size_t n = Elements(width, height, per, sizeof(T));
  if (n == 0 && width != 0 && height != 0) return false;
  try {
    std::vector<T> cells(n, T(0));
    out->swap(cells);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}
}  // namespace

template <typename T>
bool CellPlane<T>::Resize(int width, int height) {
  if (!Allocate(&m_cells, width, height, 1)) return false;
  m_nWidth = width;
  m_nHeight = height;
  return true;
}

template <typename T>
void CellPlane<T>::Release() {
  std::vector<T>().swap(m_cells);
  m_nWidth = m_nHeight = 0;
}

template <typename T>
void CellPlane<T>::Fill(T value) {
  std::fill(m_cells.begin(), m_cells.end(), value);
}

template class CellPlane<unsigned char>;
template class CellPlane<double>;

bool RgbPlane::Resize(int width, int height) {
  if (!Allocate(&m_values, width, height, 3)) return false;
  m_nWidth = width;
  m_nHeight = height;
  return true;
}

void RgbPlane::Release() {
  std::vector<double>().swap(m_values);
  m_nWidth = m_nHeight = 0;
}

void RgbPlane::Swap(RgbPlane& other) {
  m_values.swap(other.m_values);
  std::swap(m_nWidth, other.m_nWidth);
  std::swap(m_nHeight, other.m_nHeight);
}

DoubleGrid AllocGrid(int width, int height) {
  DoubleGrid grid;
  if (!grid.Resize(width, height)) return DoubleGrid();
  return grid;
}

RgbTriple ColorToRgb(std::uint32_t colour) {
  return RgbTriple{{double(colour & 0xFFu), double((colour >> 8) & 0xFFu),
                    double((colour >> 16) & 0xFFu)}};
}
