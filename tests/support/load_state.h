// Shared by the hostile-input tests: crafted 24-bit files, a temporary folder, and a
// whole copy of everything a load or a save may change (planes, mask list, surfaces,
// grids, fields and texts) with a part-by-part comparison.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "imaging/bmp_writer.h"
#include "imaging/image_files.h"

namespace loadstate {

// A 24-bit file for a w x h picture given by colour(x, y) (red, green, blue).
template <typename Colour>
std::vector<std::uint8_t> MakeBmp(int w, int h, Colour colour) {
  const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
  const std::size_t size = 54 + stride * std::size_t(h);
  std::vector<std::uint8_t> f(size, 0);
  const auto put32 = [&f](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = std::uint8_t(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, std::uint32_t(size));
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(w));
  put32(22, std::uint32_t(h));
  f[26] = 1;
  f[28] = 24;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::array<int, 3> c = colour(x, y);
      std::uint8_t* p = &f[54 + std::size_t(h - 1 - y) * stride + std::size_t(x) * 3];
      p[0] = std::uint8_t(c[2]);
      p[1] = std::uint8_t(c[1]);
      p[2] = std::uint8_t(c[0]);
    }
  return f;
}

inline std::array<int, 3> Photo(int x, int y) { return {(x * 40 + 10) & 255, (y * 60 + 5) & 255, (x * y * 7 + 90) & 255}; }
inline std::array<int, 3> Truth(int x, int y) { return {(x * 41 + 12) & 255, (y * 59 + 9) & 255, (x + y) * 13 & 255}; }
inline std::array<int, 3> Scratch(int x, int y) {
  const bool on = x == y || (x == 4 && y == 1) || (x == 2 && y == 3);
  return on ? std::array<int, 3>{255, 255, 255} : std::array<int, 3>{0, 0, 0};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

// A fresh folder of its own for each test.
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/ruvanta-test-XXXXXX";
    const char* made = mkdtemp(templ);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Fills every cell of the four planes (outside any image too) with noise, so
// that a write anywhere shows up.
inline void ScribbleOnPlanes() {
  std::uint32_t s = 12345;
  const auto next = [&s] {
    s = s * 1664525u + 1013904223u;
    return s >> 24;
  };
  for (int x = 0; x < kPlaneSide; ++x)
    for (int y = 0; y < kPlaneSide; ++y) {
      for (int c = 0; c < 3; ++c) {
        g_work[x][y][c] = next();
        g_damaged[x][y][c] = next();
        g_original[x][y][c] = next() + 0.5;
      }
      g_mask[x][y] = std::uint8_t(next() & 1);
    }
}

// A dialog that has loaded a 6 x 4 damaged image, its mask and its original, run
// once, and whose texts were then typed over (so a rewrite of the texts shows).
inline void Prepare(CImageFiles& dlg, const TempDir& dir) {
  ScribbleOnPlanes();
  WriteBytes(dir / "damaged.bmp", MakeBmp(6, 4, Photo));
  WriteBytes(dir / "mask.bmp", MakeBmp(6, 4, Scratch));
  WriteBytes(dir / "original.bmp", MakeBmp(6, 4, Truth));
  dlg.SetDefaults();
  ASSERT_TRUE(dlg.LoadDamaged(dir / "damaged.bmp").ok);
  ASSERT_TRUE(dlg.LoadMask(dir / "mask.bmp").ok);
  ASSERT_TRUE(dlg.LoadOriginal(dir / "original.bmp").ok);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "3");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, "2");
  dlg.OnRun();
  ASSERT_EQ(dlg.m_nTotalIter, 3u);
  ASSERT_EQ(dlg.m_nMaskCount, 6);
  for (int i = 0; i < 10; ++i)
    dlg.SetItemText(kExchangeIds[i], "typed " + std::to_string(i));
  dlg.m_messages.clear();
}
// Everything a load or a save may change, copied whole: the four planes, the mask
// list with its update buffer and row flags, the surfaces (handles, size, flag,
// pixels), the grids (block address and contents) and the ten fields and texts.
struct SurfaceShot {
  const void* dc = nullptr;
  const void* bitmap = nullptr;
  int width = 0, height = 0;
  int loaded = 0;
  std::vector<BYTE> bits;
  bool operator==(const SurfaceShot& o) const {
    return dc == o.dc && bitmap == o.bitmap && width == o.width && height == o.height &&
           loaded == o.loaded && bits == o.bits;
  }
};

inline SurfaceShot Shoot(const ImageSurface& s) {
  SurfaceShot shot;
  shot.dc = s.hMemDC.get();
  shot.bitmap = s.hBitmap.get();
  shot.width = s.nWidth;
  shot.height = s.nHeight;
  shot.loaded = s.bLoaded;
  if (s.hBitmap) {
    const BYTE* bits = s.hBitmap->Bits();
    shot.bits.assign(bits, bits + s.hBitmap->Stride() * std::size_t(s.hBitmap->Height()));
  }
  return shot;
}

struct GridShot {
  const double* data = nullptr;
  int width = 0, height = 0;
  std::vector<double> values;
  bool operator==(const GridShot& o) const {
    return data == o.data && width == o.width && height == o.height &&
           values.size() == o.values.size() &&
           (values.empty() ||
            std::memcmp(values.data(), o.values.data(), values.size() * sizeof(double)) == 0);
  }
};

inline GridShot Shoot(const DoubleGrid& g) {
  GridShot shot;
  shot.data = g.Data();
  shot.width = g.Width();
  shot.height = g.Height();
  if (g.Data()) shot.values.assign(g.Data(), g.Data() + std::size_t(g.Width()) * g.Height());
  return shot;
}

template <typename Plane>
std::vector<unsigned char> CopyPlane(const Plane& plane) {
  const auto* p = reinterpret_cast<const unsigned char*>(&plane);
  return std::vector<unsigned char>(p, p + sizeof(Plane));
}

struct State {
  std::vector<unsigned char> work, damaged, original, mask;
  const void* list = nullptr;
  const void* update = nullptr;
  const void* rowFlags = nullptr;
  std::vector<unsigned char> listBytes, updateBytes, rowFlagBytes;
  int count = 0;
  bool maskBuilt = false;
  int maskExtentW = 0, maskExtentH = 0;
  std::uint64_t generation = 0;
  SurfaceShot surfaces[4];
  GridShot grids[3];
  std::int32_t ints[3] = {};
  std::uint32_t floatBits[5] = {};
  std::uint32_t uints[2] = {};
  std::string texts[10];
};

inline State Capture(const CImageFiles& d) {
  State s;
  s.work = CopyPlane(g_work);
  s.damaged = CopyPlane(g_damaged);
  s.original = CopyPlane(g_original);
  s.mask = CopyPlane(g_mask);
  s.list = d.m_pMaskList.get();
  s.update = d.m_pUpdate.get();
  s.rowFlags = d.m_pRowFlags.get();
  const auto bytes = [](const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    return p ? std::vector<unsigned char>(b, b + n) : std::vector<unsigned char>();
  };
  s.listBytes = bytes(s.list, std::size_t(d.m_nMaskCount) * sizeof(MaskPixel));
  s.updateBytes = bytes(s.update, std::size_t(d.m_nMaskCount) * 3 * sizeof(double));
  s.rowFlagBytes = bytes(s.rowFlags, std::size_t(d.m_surfMask.nHeight));
  s.count = d.m_nMaskCount;
  s.maskBuilt = d.m_bMaskBuilt;
  s.maskExtentW = d.m_nMaskExtentW;
  s.maskExtentH = d.m_nMaskExtentH;
  s.generation = d.m_nGeneration;
  s.surfaces[0] = Shoot(d.m_surfDamaged);
  s.surfaces[1] = Shoot(d.m_surfResult);
  s.surfaces[2] = Shoot(d.m_surfMask);
  s.surfaces[3] = Shoot(d.m_surfOriginal);
  s.grids[0] = Shoot(d.m_gridWeight);
  s.grids[1] = Shoot(d.m_gridNext);
  s.grids[2] = Shoot(d.m_gridChannel);
  s.ints[0] = d.m_nTransportIter;
  s.ints[1] = d.m_nDiffusionIter;
  s.ints[2] = d.m_nTransportPerDiffusion;
  const float floats[5] = {d.m_fDeltaT, d.m_fPsnrDamaged, d.m_fPsnrResult, d.m_fSeconds,
                           d.m_fThreshold};
  std::memcpy(s.floatBits, floats, sizeof floats);
  s.uints[0] = d.m_nTotalIter;
  s.uints[1] = d.m_nMaskPixels;
  for (int i = 0; i < 10; ++i) s.texts[i] = d.GetItemText(kExchangeIds[i]);
  return s;
}

// Compares two states part by part, naming every part that differs.
inline void ExpectSameState(const State& a, const State& b, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_TRUE(a.work == b.work) << "g_work changed";
  EXPECT_TRUE(a.damaged == b.damaged) << "g_damaged changed";
  EXPECT_TRUE(a.original == b.original) << "g_original changed";
  EXPECT_TRUE(a.mask == b.mask) << "g_mask changed";
  EXPECT_EQ(a.list, b.list) << "mask list replaced";
  EXPECT_EQ(a.update, b.update) << "update buffer replaced";
  EXPECT_EQ(a.rowFlags, b.rowFlags) << "row flags replaced";
  EXPECT_TRUE(a.listBytes == b.listBytes) << "mask list changed";
  EXPECT_TRUE(a.updateBytes == b.updateBytes) << "update buffer changed";
  EXPECT_TRUE(a.rowFlagBytes == b.rowFlagBytes) << "row flags changed";
  EXPECT_EQ(a.count, b.count) << "mask count changed";
  EXPECT_EQ(a.maskBuilt, b.maskBuilt);
  EXPECT_EQ(a.maskExtentW, b.maskExtentW);
  EXPECT_EQ(a.maskExtentH, b.maskExtentH);
  EXPECT_EQ(a.generation, b.generation);
  const char* const surfaceNames[4] = {"damaged", "result", "mask", "original"};
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(a.surfaces[i] == b.surfaces[i]) << surfaceNames[i] << " surface changed";
  const char* const gridNames[3] = {"weight", "next", "channel"};
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(a.grids[i] == b.grids[i]) << gridNames[i] << " grid changed";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.ints[i], b.ints[i]) << "int field " << i;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.floatBits[i], b.floatBits[i]) << "float field " << i;
  for (int i = 0; i < 2; ++i) EXPECT_EQ(a.uints[i], b.uints[i]) << "unsigned field " << i;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(a.texts[i], b.texts[i]) << "text of " << kExchangeIds[i];
}

}  // namespace loadstate
