// Pixel store: the static planes (zero at start, never cleared as a whole), the
// grid allocation and the colour unpacking.
#include "engine/planes.h"

#include <limits>
#include <new>

RgbPlane g_work;
RgbPlane g_damaged;
RgbPlane g_original;
MaskPlane g_mask;

DoubleGrid AllocGrid(int width, int height) {
  DoubleGrid grid;
  if (width < 0 || height < 0) return grid;
  const std::size_t w = std::size_t(width), h = std::size_t(height);
  if (h != 0 && w > std::numeric_limits<std::size_t>::max() / sizeof(double) / h) return grid;
  const std::size_t cells = w * h;
  grid.m_rows.reset(new (std::nothrow) double*[w == 0 ? 1 : w]());
  grid.m_block.reset(new (std::nothrow) double[cells == 0 ? 1 : cells]());
  if (!grid.m_rows || !grid.m_block) return DoubleGrid();
  for (std::size_t x = 0; x < w; ++x) grid.m_rows[x] = grid.m_block.get() + x * h;
  grid.m_nWidth = width;
  grid.m_nHeight = height;
  return grid;
}

RgbTriple ColorToRgb(std::uint32_t colour) {
  return RgbTriple{{double(colour & 0xFFu), double((colour >> 8) & 0xFFu),
                    double((colour >> 16) & 0xFFu)}};
}
