// Shared by the hostile-input tests: crafted 24-bit files, a temporary folder, and a
// whole copy of everything a load or a save may change (planes, mask list, surfaces,
// grids, fields as computed and shown) with a part-by-part comparison.
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
#include "session/headless_session.h"

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

// A dialog that has loaded a 6 x 4 damaged image, its mask and its original, run
// once, and whose texts were then typed over (so showing them again shows).
inline void Prepare(CHeadlessSession& dlg, const TempDir& dir) {
  WriteBytes(dir / "damaged.bmp", MakeBmp(6, 4, Photo));
  WriteBytes(dir / "mask.bmp", MakeBmp(6, 4, Scratch));
  WriteBytes(dir / "original.bmp", MakeBmp(6, 4, Truth));
  dlg.engine.SetDefaults();
  ASSERT_TRUE(dlg.files.LoadDamaged(dir / "damaged.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadMask(dir / "mask.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadOriginal(dir / "original.bmp").ok);
  CDialogFields typed = dlg.engine.ShownFields();
  typed.m_nTransportIter = 3;
  typed.m_nTransportPerDiffusion = 2;
  dlg.engine.SetShownFields(typed);
  dlg.engine.OnRun();
  dlg.files.ShowResult();
  ASSERT_EQ(dlg.engine.m_fields.m_nTotalIter, 3u);
  ASSERT_EQ(dlg.engine.m_nMaskCount, 6);
  // Typed over, so that a load showing the fields again shows.
  typed = dlg.engine.ShownFields();
  typed.m_nDiffusionIter = 7;
  typed.m_fThreshold = 0.125f;
  dlg.engine.SetShownFields(typed);
}
// Everything a load or a save may change, copied whole: the four planes, the mask
// list with its update buffer and row flags, the surfaces (picture block, size,
// flag, pixels), the grids (block address and contents) and the ten fields as computed and as shown.
struct SurfaceShot {
  const void* pixels = nullptr;
  int width = 0, height = 0;
  int loaded = 0;
  RgbImage picture;
  bool operator==(const SurfaceShot& o) const {
    return pixels == o.pixels && width == o.width && height == o.height && loaded == o.loaded &&
           picture.width == o.picture.width && picture.height == o.picture.height &&
           picture.rgb == o.picture.rgb;
  }
};

inline SurfaceShot Shoot(const ImageSurface& s) {
  SurfaceShot shot;
  shot.pixels = s.picture.rgb.data();
  shot.width = s.nWidth;
  shot.height = s.nHeight;
  shot.loaded = s.bLoaded;
  shot.picture = s.picture;
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
  if (g.Data()) shot.values.assign(g.Data(), g.Data() + g.Size());
  return shot;
}

// A plane's storage (where it is, its size and every byte of it).
struct PlaneShot {
  const void* data = nullptr;
  int width = 0, height = 0;
  std::vector<unsigned char> bytes;
  bool operator==(const PlaneShot& o) const {
    return data == o.data && width == o.width && height == o.height && bytes == o.bytes;
  }
};

template <typename Plane>
PlaneShot CopyPlane(const Plane& plane, std::size_t cellBytes) {
  PlaneShot shot;
  shot.data = plane.Data();
  shot.width = plane.Width();
  shot.height = plane.Height();
  const auto* p = reinterpret_cast<const unsigned char*>(plane.Data());
  if (p) shot.bytes.assign(p, p + std::size_t(plane.Width()) * plane.Height() * cellBytes);
  return shot;
}

struct State {
  PlaneShot work, damaged, original, mask;
  const void* list = nullptr;
  const void* update = nullptr;
  const void* rowFlags = nullptr;
  std::vector<unsigned char> listBytes, updateBytes, rowFlagBytes;
  int count = 0;
  bool hasDamaged = false, hasMask = false, hasOriginal = false, hasResult = false;
  int extentW = 0, extentH = 0;
  SurfaceShot surfaces[4];
  GridShot grids[3];
  std::int32_t ints[3] = {};
  std::uint32_t floatBits[5] = {};
  std::uint32_t uints[2] = {};
  std::uint64_t shownVersion = 0;
  std::string shown[3];
};

inline State Capture(const CHeadlessSession& d) {
  State s;
  s.work = CopyPlane(d.engine.g_work, 3 * sizeof(double));
  s.damaged = CopyPlane(d.engine.g_damaged, 3);
  s.original = CopyPlane(d.engine.g_original, 3);
  s.mask = CopyPlane(d.engine.g_mask, 1);
  s.list = d.engine.m_pMaskList.get();
  s.update = d.engine.m_pUpdate.get();
  s.rowFlags = d.engine.m_pRowFlags.get();
  const auto bytes = [](const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    return p ? std::vector<unsigned char>(b, b + n) : std::vector<unsigned char>();
  };
  s.listBytes = bytes(s.list, std::size_t(d.engine.m_nMaskCount) * sizeof(MaskPixel));
  s.updateBytes = bytes(s.update, std::size_t(d.engine.m_nMaskCount) * 3 * sizeof(double));
  s.rowFlagBytes = bytes(s.rowFlags, std::size_t(d.engine.g_mask.Height()));
  s.count = d.engine.m_nMaskCount;
  s.hasDamaged = d.engine.HasDamaged();
  s.hasMask = d.engine.HasMask();
  s.hasOriginal = d.engine.HasOriginal();
  s.hasResult = d.files.HasResult();
  s.extentW = d.engine.Width();
  s.extentH = d.engine.Height();
  s.surfaces[0] = Shoot(d.files.m_surfDamaged);
  s.surfaces[1] = Shoot(d.files.m_surfResult);
  s.surfaces[2] = Shoot(d.files.m_surfMask);
  s.surfaces[3] = Shoot(d.files.m_surfOriginal);
  s.grids[0] = Shoot(d.engine.GridWeight());
  s.grids[1] = Shoot(d.engine.GridNext());
  s.grids[2] = Shoot(d.engine.GridChannel());
  s.ints[0] = d.engine.m_fields.m_nTransportIter;
  s.ints[1] = d.engine.m_fields.m_nDiffusionIter;
  s.ints[2] = d.engine.m_fields.m_nTransportPerDiffusion;
  const float floats[5] = {d.engine.m_fields.m_fDeltaT, d.engine.m_fields.m_fPsnrDamaged, d.engine.m_fields.m_fPsnrResult, d.engine.m_fields.m_fSeconds,
                           d.engine.m_fields.m_fThreshold};
  std::memcpy(s.floatBits, floats, sizeof floats);
  s.uints[0] = d.engine.m_fields.m_nTotalIter;
  s.uints[1] = d.engine.m_fields.m_nMaskPixels;
  s.shownVersion = d.engine.ShownVersion();
  const CDialogFields& shown = d.engine.ShownFields();
  s.shown[0] = FormatIntField(shown.m_nDiffusionIter);
  s.shown[1] = FormatFloatField(shown.m_fThreshold);
  s.shown[2] = FormatUIntField(shown.m_nMaskPixels);
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
  EXPECT_EQ(a.hasDamaged, b.hasDamaged);
  EXPECT_EQ(a.hasMask, b.hasMask);
  EXPECT_EQ(a.hasOriginal, b.hasOriginal);
  EXPECT_EQ(a.hasResult, b.hasResult);
  EXPECT_EQ(a.extentW, b.extentW);
  EXPECT_EQ(a.extentH, b.extentH);
  const char* const surfaceNames[4] = {"damaged", "result", "mask", "original"};
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(a.surfaces[i] == b.surfaces[i]) << surfaceNames[i] << " surface changed";
  const char* const gridNames[3] = {"weight", "next", "channel"};
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(a.grids[i] == b.grids[i]) << gridNames[i] << " grid changed";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.ints[i], b.ints[i]) << "int field " << i;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.floatBits[i], b.floatBits[i]) << "float field " << i;
  for (int i = 0; i < 2; ++i) EXPECT_EQ(a.uints[i], b.uints[i]) << "unsigned field " << i;
  EXPECT_EQ(a.shownVersion, b.shownVersion) << "the fields were shown again";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.shown[i], b.shown[i]) << "shown field " << i;
}

}  // namespace loadstate
