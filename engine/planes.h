// Pixel store of the restoration engine: colour planes and a mask plane sized to
// the loaded picture, the mask pixel list record and the diffusion grids.
//
// Every plane and grid is indexed [x][y] (x the column from the left, y the row
// from the top) and stored row by row: cell (x, y) is element y * W + x, and a
// colour plane keeps the three channels of a pixel side by side. The mask list
// runs along rows, so consecutive entries touch neighbouring memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// A picture handed to the engine: rows from the top, red-green-blue bytes, `stride`
// bytes from one row to the next.
struct PixelBytes {
  int width = 0;
  int height = 0;
  const std::uint8_t* rgb = nullptr;
  std::size_t stride = 0;
  const std::uint8_t* At(int x, int y) const {
    return rgb + std::size_t(y) * stride + std::size_t(x) * 3;
  }
};

// Zero-filled storage of n cells. Large buffers are aligned to 2 MiB and asked for
// huge pages where the system offers them: the transport reads five rows at a time
// all over the plane, and with small pages nearly every read is a new page.
template <typename T>
class CellBuffer {
 public:
  CellBuffer() = default;
  CellBuffer(const CellBuffer& other);
  CellBuffer& operator=(const CellBuffer& other);
  CellBuffer(CellBuffer&& other) noexcept { Swap(other); }
  CellBuffer& operator=(CellBuffer&& other) noexcept {
    Swap(other);
    return *this;
  }
  ~CellBuffer();
  // False (the buffer unchanged) when the memory cannot be had.
  bool Allocate(std::size_t n);
  void Swap(CellBuffer& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_mapped, other.m_mapped);
  }
  T* data() { return m_data; }
  const T* data() const { return m_data; }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  T& operator[](std::size_t i) { return m_data[i]; }
  const T& operator[](std::size_t i) const { return m_data[i]; }

 private:
  T* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_mapped = 0;  // bytes mapped from the system (0: from the heap)
};

// W x H cells of type T, indexed [x][y], stored row by row.
template <typename T>
class CellPlane {
 public:
  class Column {
   public:
    Column(T* base, std::size_t stride) : m_base(base), m_stride(stride) {}
    T& operator[](int y) const { return m_base[std::size_t(y) * m_stride]; }

   private:
    T* m_base;
    std::size_t m_stride;
  };
  class ConstColumn {
   public:
    ConstColumn(const T* base, std::size_t stride) : m_base(base), m_stride(stride) {}
    const T& operator[](int y) const { return m_base[std::size_t(y) * m_stride]; }

   private:
    const T* m_base;
    std::size_t m_stride;
  };

  // Zero-filled at the new size; false (the plane unchanged) when the size is
  // negative or the memory cannot be had.
  bool Resize(int width, int height);
  void Release();
  void Fill(T value);

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  bool Empty() const { return m_cells.empty(); }
  Column operator[](int x) { return Column(m_cells.data() + x, std::size_t(m_nWidth)); }
  ConstColumn operator[](int x) const {
    return ConstColumn(m_cells.data() + x, std::size_t(m_nWidth));
  }
  T& At(int x, int y) { return m_cells[std::size_t(y) * std::size_t(m_nWidth) + std::size_t(x)]; }
  const T& At(int x, int y) const {
    return m_cells[std::size_t(y) * std::size_t(m_nWidth) + std::size_t(x)];
  }
  T* Data() { return m_cells.data(); }
  const T* Data() const { return m_cells.data(); }
  std::size_t Size() const { return m_cells.size(); }

 private:
  CellBuffer<T> m_cells;
  int m_nWidth = 0;
  int m_nHeight = 0;
};

// W x H pixels of three channels of type T, indexed [x][y][c], c = 0 red, 1
// green, 2 blue, values 0..255. Pixel (x, y) starts at element (y * W + x) * 3.
template <typename T>
class PixelPlane {
 public:
  class Column {
   public:
    Column(T* base, std::size_t stride) : m_base(base), m_stride(stride) {}
    T* operator[](int y) const { return m_base + std::size_t(y) * m_stride; }

   private:
    T* m_base;
    std::size_t m_stride;
  };
  class ConstColumn {
   public:
    ConstColumn(const T* base, std::size_t stride) : m_base(base), m_stride(stride) {}
    const T* operator[](int y) const { return m_base + std::size_t(y) * m_stride; }

   private:
    const T* m_base;
    std::size_t m_stride;
  };

  PixelPlane() = default;
  // A copy that cannot get its memory is empty (0 x 0), never a size without cells.
  PixelPlane(const PixelPlane& other);
  PixelPlane& operator=(const PixelPlane& other);
  PixelPlane(PixelPlane&& other) noexcept { Swap(other); }
  PixelPlane& operator=(PixelPlane&& other) noexcept {
    Swap(other);
    return *this;
  }

  bool Resize(int width, int height);  // zero-filled; false leaves the plane as it was
  void Release();
  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  bool Empty() const { return m_values.empty(); }
  Column operator[](int x) { return Column(m_values.data() + std::size_t(x) * 3, RowStride()); }
  ConstColumn operator[](int x) const {
    return ConstColumn(m_values.data() + std::size_t(x) * 3, RowStride());
  }
  T* At(int x, int y) { return m_values.data() + (std::size_t(y) * m_nWidth + x) * 3; }
  const T* At(int x, int y) const {
    return m_values.data() + (std::size_t(y) * m_nWidth + x) * 3;
  }
  // Elements from one pixel to the next, and from one row to the next.
  int PixelStride() const { return 3; }
  std::size_t RowStride() const { return std::size_t(m_nWidth) * 3; }
  T* Data() { return m_values.data(); }
  const T* Data() const { return m_values.data(); }
  void Swap(PixelPlane& other) noexcept;

 private:
  CellBuffer<T> m_values;
  int m_nWidth = 0;
  int m_nHeight = 0;
};

// The work plane: values the transport and diffusion make fractional.
using RgbPlane = PixelPlane<double>;
// A picture as loaded, whole values 0..255 as the bytes they are: the damaged
// image and the original, which nothing changes after their loads. A reader takes
// double(byte), which is exact, so every sum over them has the bits it has over
// doubles of the same values.
using BytePlane = PixelPlane<std::uint8_t>;

// The bytes of a whole plane as a picture handed to the engine.
inline PixelBytes BytesOf(const BytePlane& plane) {
  return PixelBytes{plane.Width(), plane.Height(), plane.Data(), plane.RowStride()};
}

// 1 for a pixel to restore, 0 for a known one.
using MaskPlane = CellPlane<unsigned char>;
// A zero-filled scratch grid of the diffusion step, indexed [x][y].
using DoubleGrid = CellPlane<double>;

// A zero-filled width x height grid; an empty grid when it cannot be allocated
// (negative sizes, overflow, out of memory).
DoubleGrid AllocGrid(int width, int height);

struct MaskPixel {
  std::int32_t x;
  std::int32_t y;
  std::int32_t active;
};

struct Vec3 {
  double x;
  double y;
  double z;
};

struct RgbTriple {
  double c[3];
};
// Channel 0 from bits 0-7 (red), 1 from bits 8-15, 2 from bits 16-23.
RgbTriple ColorToRgb(std::uint32_t colour);
