// Pixel store: the static planes (zero at start, never cleared as a whole), the
// grid allocation and the colour unpacking.
#include "engine/planes.h"

#include <algorithm>
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

// --- filling the planes and building the mask ----------------------------------

#include "engine/engine.h"

bool CRestoreEngine::ReadDamagedPixels(HDC context) {
  const int W = m_surfDamaged.nWidth, H = m_surfDamaged.nHeight;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const RgbTriple rgb = ColorToRgb(GetPixel(context, x, y));
      for (int c = 0; c < 3; ++c) g_damaged[x][y][c] = g_work[x][y][c] = rgb.c[c];
    }
  return true;
}

bool CRestoreEngine::ReadOriginalPixels(HDC context) {
  const int W = m_surfOriginal.nWidth, H = m_surfOriginal.nHeight;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const RgbTriple rgb = ColorToRgb(GetPixel(context, x, y));
      for (int c = 0; c < 3; ++c) g_original[x][y][c] = rgb.c[c];
    }
  return true;
}

int CRestoreEngine::BuildMaskList(HDC context) {
  const int W = Width(), H = Height();
  int count = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (GetPixel(context, x, y) != 0) ++count;
  const std::size_t rows = std::size_t(std::max(m_surfMask.nHeight, H));
  std::unique_ptr<MaskPixel[]> list(new (std::nothrow) MaskPixel[std::size_t(count) + 1]);
  std::unique_ptr<double[]> update(new (std::nothrow) double[std::size_t(count) * 3 + 1]);
  std::unique_ptr<unsigned char[]> flags(new (std::nothrow) unsigned char[rows + 1]());
  if (!list || !update || !flags) return -1;
  int n = 0;
  for (int y = 0; y < H; ++y) {
    flags[y] = 0;
    bool seen = false;
    for (int x = 0; x < W; ++x) {
      g_mask[x][y] = 0;
      if (GetPixel(context, x, y) != 0) {
        list[n] = MaskPixel{x, y, 1};
        g_mask[x][y] = 1;
        seen = true;
        ++n;
      }
    }
    flags[y] = seen ? 1 : 0;
  }
  m_pMaskList = std::move(list);
  m_pUpdate = std::move(update);
  m_pRowFlags = std::move(flags);
  m_nMaskCount = n;
  m_bMaskBuilt = true;
  m_nMaskExtentW = W;
  m_nMaskExtentH = H;
  ++m_nGeneration;
  return n;
}
