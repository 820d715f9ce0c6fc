// Pixel store of the restoration engine: three colour planes and a mask plane of
// fixed size, indexed [x][y] (x the column from the left, y the row from the top,
// one column contiguous), the mask pixel list record and the scratch grids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr int kPlaneSide = 800;

// [x][y][c], c = 0 red, 1 green, 2 blue; values 0..255.
typedef double RgbPlane[kPlaneSide][kPlaneSide][3];
// [x][y], 1 for a pixel to restore.
typedef unsigned char MaskPlane[kPlaneSide][kPlaneSide];

extern RgbPlane g_work;      // the image being restored
extern RgbPlane g_damaged;   // the damaged image as loaded
extern RgbPlane g_original;  // the undamaged image, for the quality measure
extern MaskPlane g_mask;

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

// W row pointers into one zero-filled block of W x H doubles; grid[x][y].
class DoubleGrid {
 public:
  DoubleGrid() = default;
  double* operator[](int x) { return m_rows[x]; }
  const double* operator[](int x) const { return m_rows[x]; }
  bool IsNull() const { return m_block == nullptr; }
  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  double* Data() { return m_block.get(); }
  const double* Data() const { return m_block.get(); }

 private:
  friend DoubleGrid AllocGrid(int width, int height);
  std::unique_ptr<double*[]> m_rows;
  std::unique_ptr<double[]> m_block;
  int m_nWidth = 0;
  int m_nHeight = 0;
};

// A zero-filled width x height grid; a null grid when it cannot be allocated
// (negative sizes, overflow, out of memory).
DoubleGrid AllocGrid(int width, int height);

struct RgbTriple {
  double c[3];
};
// Channel 0 from bits 0-7 (red), 1 from bits 8-15, 2 from bits 16-23.
RgbTriple ColorToRgb(std::uint32_t colour);
