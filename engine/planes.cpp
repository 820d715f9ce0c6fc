// Storage of the planes and grids: sized to the picture, zero-filled when made,
// and never half-made: a failed allocation leaves the previous contents.
//
// A buffer of 2 MiB or more is mapped from the system rather than taken from the
// heap and cleared: the system's pages are zero already and are only made when
// first touched, so a grid whose cells a run never reads or writes (those far from
// the mask) costs neither memory nor the time of clearing it.
#include "engine/planes.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

template <typename T>
CellBuffer<T>::CellBuffer(const CellBuffer& other) {
  if (!other.empty() && Allocate(other.size()))
    std::copy(other.data(), other.data() + other.size(), m_data);
}

template <typename T>
CellBuffer<T>& CellBuffer<T>::operator=(const CellBuffer& other) {
  if (this != &other) {
    CellBuffer copy(other);
    Swap(copy);
  }
  return *this;
}

namespace {
constexpr std::size_t kSmallAlignment = 64;

// A smaller buffer comes through the aligned operator new, so that whatever watches
// the program's allocations (a test's failing allocator) sees it too.
void Release(void* data, std::size_t mapped) {
  if (mapped != 0)
    ::munmap(data, mapped);
  else if (data != nullptr)
    ::operator delete(data, std::align_val_t(kSmallAlignment));
}
}  // namespace

template <typename T>
CellBuffer<T>::~CellBuffer() {
  Release(m_data, m_mapped);
}

template <typename T>
bool CellBuffer<T>::Allocate(std::size_t n) {
  constexpr std::size_t kHugePage = std::size_t(2) << 20;
  if (n > std::numeric_limits<std::size_t>::max() / sizeof(T) - kHugePage) return false;
  const std::size_t bytes = n * sizeof(T);
  const bool huge = bytes >= kHugePage;
  const std::size_t alignment = huge ? kHugePage : kSmallAlignment;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  void* p = nullptr;
  if (huge) {
    p = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
    ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
  } else if (rounded != 0) {
    p = ::operator new(rounded, std::align_val_t(alignment), std::nothrow);
    if (p == nullptr) return false;
    std::memset(p, 0, rounded);
  }
  Release(m_data, m_mapped);
  m_data = static_cast<T*>(p);
  m_size = n;
  m_mapped = huge ? rounded : 0;
  return true;
}

template class CellBuffer<unsigned char>;
template class CellBuffer<double>;

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
bool Allocate(CellBuffer<T>* out, int width, int height, std::size_t per) {
  const std::size_t n = Elements(width, height, per, sizeof(T));
  if (n == 0 && width != 0 && height != 0) return false;
  CellBuffer<T> cells;
  if (!cells.Allocate(n)) return false;
  out->Swap(cells);
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
  CellBuffer<T>().Swap(m_cells);
  m_nWidth = m_nHeight = 0;
}

template <typename T>
void CellPlane<T>::Fill(T value) {
  std::fill(m_cells.data(), m_cells.data() + m_cells.size(), value);
}

template class CellPlane<unsigned char>;
template class CellPlane<double>;

template <typename T>
PixelPlane<T>::PixelPlane(const PixelPlane& other) : m_values(other.m_values) {
  if (m_values.size() == other.m_values.size()) {
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
  }
}

template <typename T>
PixelPlane<T>& PixelPlane<T>::operator=(const PixelPlane& other) {
  if (this != &other) {
    PixelPlane copy(other);
    Swap(copy);
  }
  return *this;
}

template <typename T>
bool PixelPlane<T>::Resize(int width, int height) {
  if (!Allocate(&m_values, width, height, 3)) return false;
  m_nWidth = width;
  m_nHeight = height;
  return true;
}

template <typename T>
void PixelPlane<T>::Release() {
  CellBuffer<T>().Swap(m_values);
  m_nWidth = m_nHeight = 0;
}

template <typename T>
void PixelPlane<T>::Swap(PixelPlane& other) noexcept {
  m_values.Swap(other.m_values);
  std::swap(m_nWidth, other.m_nWidth);
  std::swap(m_nHeight, other.m_nHeight);
}

template class PixelPlane<double>;
template class PixelPlane<std::uint8_t>;

DoubleGrid AllocGrid(int width, int height) {
  DoubleGrid grid;
  if (!grid.Resize(width, height)) return DoubleGrid();
  return grid;
}

RgbTriple ColorToRgb(std::uint32_t colour) {
  return RgbTriple{
      {double(colour & 0xFFu), double((colour >> 8) & 0xFFu), double((colour >> 16) & 0xFFu)}};
}
