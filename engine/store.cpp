// The engine's pixel store: filling the planes from loaded pictures and building
// the mask list.
//
// A load makes every new plane, list and grid aside and replaces the old ones
// only when all of them exist, so a load that runs out of memory changes nothing.
#include <algorithm>
#include <new>

#include "engine/engine.h"

void CRestoreEngine::SetDefaults() {
  SetDefaultFields(&m_fields);
  ShowFields();
}

namespace {
void CopyBytes(const PixelBytes& image, BytePlane* plane) {
  for (int y = 0; y < image.height; ++y)
    std::copy(image.At(0, y), image.At(0, y) + std::size_t(image.width) * 3, plane->At(0, y));
}
}  // namespace

bool CRestoreEngine::ReadDamagedPixels(const PixelBytes& image) {
  const int w = image.width, h = image.height;
  if (w < 1 || h < 1) return false;
  RgbPlane work;
  BytePlane damaged;
  if (!work.Resize(w, h) || !damaged.Resize(w, h)) return false;
  DoubleGrid channel = AllocGrid(w, h), next = AllocGrid(w, h), weight = AllocGrid(w, h);
  if (channel.Empty() || next.Empty() || weight.Empty()) return false;
  CopyBytes(image, &damaged);
  const std::uint8_t* in = damaged.Data();
  double* out = work.Data();
  for (std::size_t i = 0, n = std::size_t(w) * std::size_t(h) * 3; i < n; ++i) out[i] = double(in[i]);
  g_work.Swap(work);
  g_damaged.Swap(damaged);
  m_gridChannel = std::move(channel);
  m_gridNext = std::move(next);
  m_gridWeight = std::move(weight);
  m_diffusionCache.gridsPending = m_diffusionCache.weightsPending = false;  // for the old grids
  if (g_original.Width() != w || g_original.Height() != h) {
    g_original.Release();
    m_bOriginalLoaded = false;
    ++m_nOriginalVersion;
  }
  m_nWidth = w;
  m_nHeight = h;
  ++m_nGeneration;
  return true;
}

bool CRestoreEngine::ReadOriginalPixels(const PixelBytes& image) {
  if (image.width < 1 || image.height < 1) return false;
  if (HasDamaged() && (image.width != m_nWidth || image.height != m_nHeight)) return false;
  BytePlane original;
  if (!original.Resize(image.width, image.height)) return false;
  CopyBytes(image, &original);
  g_original.Swap(original);
  m_bOriginalLoaded = true;
  ++m_nOriginalVersion;
  return true;
}

std::uint64_t CRestoreEngine::BytesNeeded(std::uint64_t pixels, std::uint64_t masked) {
  masked = std::min(masked, pixels);
  // A pixel: g_work (three doubles), g_damaged and g_original (three bytes
  // each), the three grids, g_mask, the diffusion cache's transient numbering (an
  // int32) and the flat-run bits of the transport (under a byte).
  const std::uint64_t perPixel = sizeof(RgbTriple) + 2 * 3 * sizeof(std::uint8_t) +
                                 3 * sizeof(double) + 1 + sizeof(std::int32_t) + 1;
  // A masked pixel: its list entry and update (three doubles); the transport's
  // column, offset and interior flag, its two sweep plans (an entry and at most a
  // round each); the diffusion's region cell (grown by doubling, so up to twice
  // its size), its nine numbered neighbours (the same), and its masked and
  // changing numbers.
  const std::uint64_t perMasked =
      sizeof(MaskPixel) + 3 * sizeof(double) + 2 * sizeof(std::int32_t) + 1 +
      2 * (sizeof(std::int32_t) + sizeof(SweepRound)) + 2 * sizeof(DiffusionCell) +
      2 * 9 * sizeof(std::int32_t) + 2 * sizeof(std::int32_t);
  // A cell the diffusion reads (the region and its neighbours, at most nine a
  // masked pixel and never more than the picture): its load entry (doubling), its
  // region flag and four doubles in each of channel, next and weight.
  const std::uint64_t perCell = 2 * sizeof(DiffusionCell) + 1 + 3 * 4 * sizeof(double);
  const std::uint64_t cells = masked > pixels / 9 ? pixels : masked * 9;
  constexpr std::uint64_t kMax = ~std::uint64_t(0);
  const auto times = [](std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > kMax / b ? kMax : a * b;
  };
  const auto plus = [](std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; };
  return plus(plus(times(pixels, perPixel), times(masked, perMasked)), times(cells, perCell));
}

int CRestoreEngine::BuildMaskList(const PixelBytes& mask) {
  const int W = m_nWidth, H = m_nHeight;
  if (!HasDamaged() || mask.width != W || mask.height != H) return -1;
  // The grids outlive the mask: they take what the last diffusion left first.
  FlushDiffusionGrids();
  MaskPlane plane;
  if (!plane.Resize(W, H)) return -1;
  const auto masked = [&mask](int x, int y) {
    const std::uint8_t* p = mask.At(x, y);
    return (p[0] | p[1] | p[2]) != 0;
  };
  std::size_t count = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) count += masked(x, y) ? 1 : 0;
  // At most W x H entries, which the size limits keep far below 2^31.
  std::unique_ptr<MaskPixel[]> list(new (std::nothrow) MaskPixel[count + 1]);
  std::unique_ptr<double[]> update(new (std::nothrow) double[count * 3 + 1]);
  std::unique_ptr<unsigned char[]> flags(new (std::nothrow) unsigned char[std::size_t(H) + 1]());
  if (!list || !update || !flags) return -1;
  int n = 0;
  for (int y = 0; y < H; ++y) {
    bool seen = false;
    for (int x = 0; x < W; ++x) {
      if (masked(x, y)) {
        list[n] = MaskPixel{x, y, 1};
        plane[x][y] = 1;
        seen = true;
        ++n;
      }
    }
    flags[y] = seen ? 1 : 0;
  }
  g_mask = std::move(plane);
  m_pMaskList = std::move(list);
  m_pUpdate = std::move(update);
  m_pRowFlags = std::move(flags);
  m_nMaskCount = n;
  m_bMaskBuilt = true;
  ++m_nGeneration;
  // The diffusion's cell lists depend on the mask alone: built here, they cost the
  // first run nothing. Without the memory for them now, that run builds them.
  try {
    BuildDiffusionCache();
  } catch (const std::bad_alloc&) {
    m_diffusionCache = DiffusionCache();
  }
  return n;
}
