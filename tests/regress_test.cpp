// Replays the regression corpus tests/data/regress: every crafted file (and every
// input a fuzz target once failed on) with the outcome EXPECTED.txt gives it.
// The reader must give exactly that outcome, from memory and from the file; the
// three loads must refuse every file the reader refuses, and every image larger
// than 800 x 800, without changing anything; and they must load the rest.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "imaging/image_files.h"

namespace {

const std::string kCorpus = std::string(RUVANTA_SOURCE_DIR) + "/tests/data/regress";

struct Case {
  std::string name;
  bool decodes = false;
  int width = 0, height = 0;
  bool pattern = false;  // pixels are the corpus test pattern
};

std::vector<Case> ReadManifest() {
  std::vector<Case> cases;
  std::ifstream in(kCorpus + "/EXPECTED.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Case c;
    std::string outcome, size, extra;
    words >> c.name >> outcome >> size >> extra;
    c.decodes = outcome == "decodes";
    if (c.decodes) {
      const auto x = size.find('x');
      c.width = std::stoi(size.substr(0, x));
      c.height = std::stoi(size.substr(x + 1));
      c.pattern = extra == "pattern";
    } else if (outcome != "refused") {
      c.name = "bad manifest line: " + line;
    }
    cases.push_back(c);
  }
  return cases;
}

// The colour of pixel (x, y) of a pattern file (make_regress.py writes the same).
std::array<int, 3> Pattern(int x, int y) {
  return {(x * 29 + y * 7) & 255, (x * 3 + y * 53 + 17) & 255, ((x ^ y) * 5 + 101) & 255};
}

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

std::array<int, 3> Photo(int x, int y) { return {(x * 40 + 10) & 255, (y * 60 + 5) & 255, (x * y * 7 + 90) & 255}; }
std::array<int, 3> Truth(int x, int y) { return {(x * 41 + 12) & 255, (y * 59 + 9) & 255, (x + y) * 13 & 255}; }
std::array<int, 3> Scratch(int x, int y) {
  const bool on = x == y || (x == 4 && y == 1) || (x == 2 && y == 3);
  return on ? std::array<int, 3>{255, 255, 255} : std::array<int, 3>{0, 0, 0};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
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
void ScribbleOnPlanes() {
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
void Prepare(CImageFiles& dlg, const TempDir& dir) {
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

SurfaceShot Shoot(const ImageSurface& s) {
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

GridShot Shoot(const DoubleGrid& g) {
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

State Capture(const CImageFiles& d) {
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
void ExpectSameState(const State& a, const State& b, const std::string& what) {
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

void ExpectPattern(const RgbImage& image) {
  int wrong = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::array<int, 3> want = Pattern(x, y);
      const COLORREF got = image.Pixel(x, y);
      if (GetRValue(got) != want[0] || GetGValue(got) != want[1] || GetBValue(got) != want[2])
        if (++wrong <= 3) ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << got;
    }
  EXPECT_EQ(wrong, 0);
}

class RegressTest : public ::testing::TestWithParam<Case> {
 protected:
  std::string Path() const { return kCorpus + "/" + GetParam().name; }
};

TEST_P(RegressTest, ReaderGivesTheListedOutcome) {
  const Case& c = GetParam();
  ASSERT_EQ(c.name.find("bad manifest"), std::string::npos) << c.name;
  const std::vector<std::uint8_t> bytes = ReadBytes(Path());
  const BmpReadResult fromMemory = DecodeBmp(bytes.data(), bytes.size());
  const BmpReadResult fromFile = ReadBmpFile(Path());
  for (const BmpReadResult* r : {&fromMemory, &fromFile}) {
    SCOPED_TRACE(r == &fromMemory ? "DecodeBmp" : "ReadBmpFile");
    ASSERT_EQ(r->ok, c.decodes) << r->reason;
    if (!c.decodes) {
      EXPECT_FALSE(r->reason.empty());
      EXPECT_TRUE(r->image.rgb.empty());
      continue;
    }
    EXPECT_TRUE(r->reason.empty());
    EXPECT_EQ(r->image.width, c.width);
    EXPECT_EQ(r->image.height, c.height);
    ASSERT_EQ(r->image.rgb.size(), std::size_t(c.width) * std::size_t(c.height) * 3);
    if (c.pattern) ExpectPattern(r->image);
  }
  if (c.decodes) {
    EXPECT_TRUE(fromMemory.image.rgb == fromFile.image.rgb);
  }
}

TEST_P(RegressTest, LoadsRefuseWithoutChangeOrLoadWhole) {
  const Case& c = GetParam();
  TempDir dir;
  CImageFiles dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const State before = Capture(dlg);
  const bool fits = c.decodes && c.width <= kMaxImageSide && c.height <= kMaxImageSide;
  if (!fits) {
    const FileResult damaged = dlg.LoadDamaged(Path());
    const FileResult mask = dlg.LoadMask(Path());
    const FileResult original = dlg.LoadOriginal(Path());
    for (const FileResult* r : {&damaged, &mask, &original}) {
      EXPECT_FALSE(r->ok);
      EXPECT_FALSE(r->reason.empty());
      if (c.decodes) {  // too large: the reason names the size and the limit
        EXPECT_NE(r->reason.find(std::to_string(std::max(c.width, c.height))), std::string::npos)
            << r->reason;
        EXPECT_NE(r->reason.find("800"), std::string::npos) << r->reason;
      } else {
        EXPECT_EQ(r->message, "File Gagal diBuka");
        EXPECT_EQ(r->caption, "Error");
      }
    }
    ExpectSameState(before, Capture(dlg), "after the three refused loads");
    EXPECT_TRUE(dlg.m_messages.empty());
    return;
  }
  // A file that fits: the damaged load takes it whole and leaves the original
  // plane, the mask plane and the mask list alone.
  const BmpReadResult decoded = ReadBmpFile(Path());
  ASSERT_TRUE(decoded.ok);
  ASSERT_TRUE(dlg.LoadDamaged(Path()).ok);
  EXPECT_EQ(dlg.Width(), c.width);
  EXPECT_EQ(dlg.Height(), c.height);
  EXPECT_EQ(dlg.m_surfResult.nWidth, c.width);
  EXPECT_EQ(dlg.m_surfResult.nHeight, c.height);
  EXPECT_EQ(dlg.m_gridWeight.Width(), c.width);
  EXPECT_EQ(dlg.m_gridWeight.Height(), c.height);
  State after = Capture(dlg);
  EXPECT_TRUE(after.original == before.original);
  EXPECT_TRUE(after.mask == before.mask);
  EXPECT_EQ(after.list, before.list);
  EXPECT_EQ(after.count, before.count);
  int wrong = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const COLORREF px = decoded.image.Pixel(x, y);
      const double want[3] = {double(GetRValue(px)), double(GetGValue(px)), double(GetBValue(px))};
      for (int ch = 0; ch < 3; ++ch)
        if (g_damaged[x][y][ch] != want[ch] || g_work[x][y][ch] != want[ch]) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << "plane cells that differ from the decoded pixels";
  // The same file as its own mask and as the original.
  ASSERT_TRUE(dlg.LoadMask(Path()).ok);
  int masked = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) masked += decoded.image.Pixel(x, y) != 0;
  EXPECT_EQ(dlg.m_nMaskCount, masked);
  ASSERT_TRUE(dlg.LoadOriginal(Path()).ok);
  EXPECT_EQ(dlg.m_surfOriginal.nWidth, c.width);
  EXPECT_EQ(dlg.m_surfOriginal.nHeight, c.height);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, RegressTest, ::testing::ValuesIn(ReadManifest()), CaseName);

TEST(RegressCorpus, ManifestListsEveryFileExactlyOnce) {
  const std::vector<Case> cases = ReadManifest();
  std::set<std::string> listed;
  int refused = 0, decodes = 0;
  for (const Case& c : cases) {
    EXPECT_TRUE(listed.insert(c.name).second) << "listed twice: " << c.name;
    (c.decodes ? decodes : refused)++;
  }
  std::set<std::string> present;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    if (name == "EXPECTED.txt" || name == "FINDINGS.txt" || name == "make_regress.py") continue;
    present.insert(name);
  }
  EXPECT_EQ(listed, present);
  EXPECT_GE(refused, 40);
  EXPECT_GE(decodes, 20);
}

}  // namespace
