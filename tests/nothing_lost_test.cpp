// Nothing is lost: a refused load (unreadable, malformed, too large, a mask of the
// wrong size, a mask before any damaged image) leaves every plane, the mask list,
// the grids, the surfaces and the ten fields with their texts exactly as they were;
// a failed save leaves no file behind (and an existing file as it was) and the
// result intact; and a file declaring a huge size is refused without allocating it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "imaging/bmp_writer.h"
#include "imaging/image_files.h"

// --- the largest allocation, counted while armed -------------------------------
namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};

void* CountedAlloc(std::size_t n) {
  if (g_countAllocations.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (n > seen && !g_largestAllocation.compare_exchange_weak(seen, n)) {
    }
  }
  return std::malloc(n ? n : 1);
}
}  // namespace

void* operator new(std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// The largest single allocation made by `action`.
std::size_t LargestAllocation(const std::function<void()>& action) {
  g_largestAllocation = 0;
  g_countAllocations = true;
  action();
  g_countAllocations = false;
  return g_largestAllocation;
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

// --- refused loads ---------------------------------------------------------------

enum class Load { kDamaged, kMask, kOriginal };
const char* LoadName(Load l) {
  return l == Load::kDamaged ? "damaged" : l == Load::kMask ? "mask" : "original";
}
FileResult DoLoad(CImageFiles& dlg, Load load, const std::string& path) {
  switch (load) {
    case Load::kDamaged: return dlg.LoadDamaged(path);
    case Load::kMask: return dlg.LoadMask(path);
    case Load::kOriginal: return dlg.LoadOriginal(path);
  }
  return FileResult();
}
void RunHandler(CImageFiles& dlg, Load load) {
  switch (load) {
    case Load::kDamaged: dlg.OnLoadDamaged(); break;
    case Load::kMask: dlg.OnLoadMask(); break;
    case Load::kOriginal: dlg.OnLoadOriginal(); break;
  }
}
constexpr Load kLoads[3] = {Load::kDamaged, Load::kMask, Load::kOriginal};

// A refused file of each kind; `make` writes it into the folder and returns its path.
struct BadFile {
  const char* name;
  std::function<std::string(const TempDir&)> make;
  const char* message;  // the message box text every load must give
  const char* caption;
};

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  return f;
}

std::string Written(const TempDir& dir, const std::string& name, const std::vector<std::uint8_t>& b) {
  WriteBytes(dir / name, b);
  return dir / name;
}

const BadFile kBadFiles[] = {
    {"missing", [](const TempDir& d) { return d / "no such file.bmp"; }, "File Gagal diBuka", "Error"},
    {"folder",
     [](const TempDir& d) {
       std::filesystem::create_directory(d / "folder.bmp");
       return d / "folder.bmp";
     },
     "File Gagal diBuka", "Error"},
    {"empty", [](const TempDir& d) { return Written(d, "empty.bmp", {}); }, "File Gagal diBuka", "Error"},
    {"truncated rows",
     [](const TempDir& d) {
       std::vector<std::uint8_t> f = MakeBmp(6, 4, Photo);
       f.resize(f.size() - 5);
       return Written(d, "short.bmp", Patched(f, 2, std::uint32_t(f.size())));
     },
     "File Gagal diBuka", "Error"},
    {"32 bits",
     [](const TempDir& d) {
       std::vector<std::uint8_t> f = MakeBmp(6, 4, Photo);
       f[28] = 32;
       return Written(d, "deep.bmp", f);
     },
     "File Gagal diBuka", "Error"},
    {"declared size off by one",
     [](const TempDir& d) {
       const std::vector<std::uint8_t> f = MakeBmp(6, 4, Photo);
       return Written(d, "size.bmp", Patched(f, 2, std::uint32_t(f.size() + 1)));
     },
     "File Gagal diBuka", "Error"},
    {"huge declared size",
     [](const TempDir& d) {
       std::vector<std::uint8_t> f = MakeBmp(1, 1, Photo);
       f = Patched(Patched(f, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF);
       return Written(d, "huge.bmp", f);
     },
     "File Gagal diBuka", "Error"},
    {"801 wide", [](const TempDir& d) { return Written(d, "wide.bmp", MakeBmp(801, 1, Photo)); },
     nullptr, nullptr},
    {"801 high", [](const TempDir& d) { return Written(d, "high.bmp", MakeBmp(2, 801, Photo)); },
     nullptr, nullptr},
};

TEST(NothingLostTest, EveryRefusedLoadLeavesEverythingAsItWas) {
  for (const BadFile& bad : kBadFiles)
    for (Load load : kLoads) {
      SCOPED_TRACE(std::string(bad.name) + " as the " + LoadName(load) + " image");
      TempDir dir;
      CImageFiles dlg;
      Prepare(dlg, dir);
      if (HasFatalFailure()) return;
      const std::string path = bad.make(dir);
      const State before = Capture(dlg);
      const FileResult r = DoLoad(dlg, load, path);
      EXPECT_FALSE(r.ok);
      EXPECT_FALSE(r.message.empty());
      EXPECT_FALSE(r.reason.empty());
      if (bad.message) {
        EXPECT_EQ(r.message, bad.message);
        EXPECT_EQ(r.caption, bad.caption);
      } else {  // too large: the reason names the size and the limit
        EXPECT_NE(r.reason.find("801"), std::string::npos) << r.reason;
        EXPECT_NE(r.reason.find("800 x 800"), std::string::npos) << r.reason;
      }
      ExpectSameState(before, Capture(dlg), "after the load");
      EXPECT_TRUE(dlg.m_messages.empty());

      // The same through the button: one message box, and still nothing changed.
      dlg.m_fileAnswers.push_back(path);
      RunHandler(dlg, load);
      ExpectSameState(before, Capture(dlg), "after the button");
      ASSERT_EQ(dlg.m_messages.size(), 1u);
      EXPECT_EQ(dlg.m_messages[0].text.rfind(r.message, 0), 0u) << dlg.m_messages[0].text;
    }
}

TEST(NothingLostTest, MaskOfAnotherSizeIsRefusedWithBothSizes) {
  const std::array<int, 2> sizes[] = {{5, 4}, {7, 4}, {6, 3}, {6, 5}, {4, 6}, {1, 1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
    TempDir dir;
    CImageFiles dlg;
    Prepare(dlg, dir);
    if (HasFatalFailure()) return;
    const std::string path = Written(dir, "other.bmp", MakeBmp(size[0], size[1], Scratch));
    const State before = Capture(dlg);
    const FileResult r = dlg.LoadMask(path);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find(std::to_string(size[0]) + " x " + std::to_string(size[1])),
              std::string::npos)
        << r.reason;
    EXPECT_NE(r.reason.find("6 x 4"), std::string::npos) << r.reason;
    ExpectSameState(before, Capture(dlg), "after the mask load");
  }
}

TEST(NothingLostTest, MaskBeforeAnyDamagedImageIsRefused) {
  TempDir dir;
  ScribbleOnPlanes();
  CImageFiles dlg;
  dlg.SetDefaults();
  WriteBytes(dir / "original.bmp", MakeBmp(6, 4, Truth));
  WriteBytes(dir / "mask.bmp", MakeBmp(6, 4, Scratch));
  ASSERT_TRUE(dlg.LoadOriginal(dir / "original.bmp").ok);
  dlg.m_fThreshold = 0.5f;
  dlg.SetItemText(IDC_EDIT_THRESHOLD, "typed");
  const State before = Capture(dlg);
  const FileResult r = dlg.LoadMask(dir / "mask.bmp");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.message.empty());
  EXPECT_FALSE(r.reason.empty());
  ExpectSameState(before, Capture(dlg), "after the mask load");
  EXPECT_EQ(dlg.m_pMaskList, nullptr);
  EXPECT_EQ(dlg.m_surfMask.bLoaded, 0);
}

// --- failed saves ----------------------------------------------------------------

// Passes everything to the real file layer, but lets only `budget` bytes through
// (then writes that part and fails, as a full disk does), or fails on closing.
class FailingSink : public FileSink {
 public:
  explicit FailingSink(std::size_t budget, bool failClose = false)
      : budget_(budget), failClose_(failClose) {}
  bool CreateNew(const std::string& path, std::string* error) override {
    created_.push_back(path);
    return real_.CreateNew(path, error);
  }
  bool Write(const void* data, std::size_t size, std::string* error) override {
    if (written_ + size <= budget_) {
      written_ += size;
      return real_.Write(data, size, error);
    }
    const std::size_t part = budget_ - written_;
    written_ = budget_;
    if (part) real_.Write(data, part, error);
    *error = "No space left on device";
    return false;
  }
  bool Close(std::string* error) override {
    const bool ok = real_.Close(error);
    if (failClose_) {
      *error = "Input/output error";
      return false;
    }
    return ok;
  }
  void Remove(const std::string& path) override { real_.Remove(path); }
  const std::vector<std::string>& created() const { return created_; }

 private:
  FileSink& real_ = DefaultFileSink();
  std::size_t budget_;
  bool failClose_;
  std::size_t written_ = 0;
  std::vector<std::string> created_;
};

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(NothingLostTest, SaveOverAnExistingFileLeavesItUntouched) {
  TempDir dir;
  CImageFiles dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', 0, 1, 2, 3};
  WriteBytes(dir / "result.bmp", precious);
  const auto listing = Listing(dir.path());
  const State before = Capture(dlg);
  const FileResult r = dlg.SaveResult(dir / "result.bmp");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "cannot create file");
  EXPECT_FALSE(r.reason.empty());
  EXPECT_EQ(ReadBytes(dir / "result.bmp"), precious);
  EXPECT_EQ(Listing(dir.path()), listing);
  ExpectSameState(before, Capture(dlg), "after the save");
}

TEST(NothingLostTest, SaveWhereNoFileCanBeCreatedLeavesNothing) {
  TempDir dir;
  CImageFiles dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  WriteBytes(dir / "plain.txt", {'x'});
  std::filesystem::create_directory(dir / "taken.bmp");
  std::vector<std::string> targets = {dir / "missing folder/result.bmp",
                                      dir / "plain.txt/result.bmp", dir / "taken.bmp", ""};
  if (geteuid() != 0) {  // permissions bind everyone but the superuser
    std::filesystem::create_directory(dir / "locked");
    chmod((dir / "locked").c_str(), 0555);
    targets.push_back(dir / "locked/result.bmp");
  }
  const auto listing = Listing(dir.path());
  const State before = Capture(dlg);
  for (const std::string& target : targets)
    for (bool overwrite : {false, true}) {
      SCOPED_TRACE(target + (overwrite ? " (overwrite)" : ""));
      const FileResult r = dlg.SaveResult(target, overwrite);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.message, "cannot create file");
      EXPECT_FALSE(r.reason.empty());
      EXPECT_EQ(Listing(dir.path()), listing);
      EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.bmp"));
    }
  if (geteuid() != 0) {
    EXPECT_TRUE(Listing(dir / "locked").empty());
  }
  ExpectSameState(before, Capture(dlg), "after the saves");
}

TEST(NothingLostTest, WriteFailingPartWayLeavesNoPartialFile) {
  TempDir dir;
  CImageFiles dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const std::size_t full = EncodeBmp(dlg.m_surfResult).size();
  ASSERT_EQ(full, 54u + 4u * 7u * 3u);
  const std::vector<std::uint8_t> precious = {'o', 'l', 'd'};
  WriteBytes(dir / "old.bmp", precious);
  const auto listing = Listing(dir.path());
  const State before = Capture(dlg);
  for (std::size_t budget : {std::size_t(0), std::size_t(1), std::size_t(13), std::size_t(14),
                             std::size_t(53), std::size_t(54), std::size_t(60), full - 1})
    for (bool overwrite : {false, true}) {
      SCOPED_TRACE("fails after " + std::to_string(budget) + " bytes" +
                   (overwrite ? ", replacing a file" : ""));
      FailingSink sink(budget);
      const std::string target = overwrite ? dir / "old.bmp" : dir / "new.bmp";
      const FileResult r = dlg.SaveResult(target, overwrite, sink);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.message, "cannot create file");
      EXPECT_FALSE(r.reason.empty());
      EXPECT_FALSE(sink.created().empty()) << "the save never reached the file layer";
      EXPECT_EQ(Listing(dir.path()), listing) << "a partial file was left behind";
      EXPECT_EQ(ReadBytes(dir / "old.bmp"), precious);
    }
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(std::string("fails on closing") + (overwrite ? ", replacing a file" : ""));
    FailingSink sink(full, true);
    const FileResult r = dlg.SaveResult(overwrite ? dir / "old.bmp" : dir / "new.bmp", overwrite, sink);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Listing(dir.path()), listing);
    EXPECT_EQ(ReadBytes(dir / "old.bmp"), precious);
  }
  ExpectSameState(before, Capture(dlg), "after the failed saves");

  // The same sink with room enough writes the whole file, which reads back as the
  // result: the failures above came from the budget alone.
  FailingSink roomy(full);
  ASSERT_TRUE(dlg.SaveResult(dir / "new.bmp", false, roomy).ok);
  const BmpReadResult back = ReadBmpFile(dir / "new.bmp");
  ASSERT_TRUE(back.ok) << back.reason;
  EXPECT_EQ(back.image.width, 6);
  EXPECT_EQ(back.image.height, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(back.image.Pixel(x, y), GetPixel(dlg.m_surfResult.hMemDC.get(), x, y));
}

// --- huge declared sizes -----------------------------------------------------------

TEST(NothingLostTest, HugeDeclaredSizeIsRefusedWithoutAllocatingIt) {
  // The counter sees a large allocation when one is made.
  EXPECT_GE(LargestAllocation([] { std::vector<char> big(1 << 20); (void)big; }), std::size_t(1) << 20);

  TempDir dir;
  struct Huge {
    const char* name;
    std::uint32_t width, height;
  };
  const Huge cases[] = {{"both", 0x7FFFFFFF, 0x7FFFFFFF},
                        {"wide", 0x7FFFFFFF, 1},
                        {"high", 1, 0x7FFFFFFF},
                        {"high top-down", 1, 0x80000001u},
                        {"wrapping stride", 0x55555556, 1},
                        {"wrapping rows", 0x10000, 0x10000}};
  for (const Huge& h : cases) {
    SCOPED_TRACE(h.name);
    std::vector<std::uint8_t> f = MakeBmp(1, 1, Photo);
    f.resize(60);  // two bytes behind the row
    f = Patched(Patched(Patched(f, 2, 60), 18, h.width), 22, h.height);
    ASSERT_EQ(f.size(), 60u);
    const std::string path = Written(dir, std::string(h.name) + ".bmp", f);
    BmpReadResult fromMemory, fromFile;
    EXPECT_LT(LargestAllocation([&] { fromMemory = DecodeBmp(f.data(), f.size()); }), 4096u);
    EXPECT_LT(LargestAllocation([&] { fromFile = ReadBmpFile(path); }), 65536u);
    EXPECT_FALSE(fromMemory.ok);
    EXPECT_FALSE(fromFile.ok);
    EXPECT_FALSE(fromMemory.reason.empty());
    EXPECT_FALSE(fromFile.reason.empty());
    CImageFiles dlg;
    FileResult r;
    EXPECT_LT(LargestAllocation([&] { r = dlg.LoadDamaged(path); }), 65536u);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "File Gagal diBuka");
    EXPECT_EQ(dlg.m_surfDamaged.bLoaded, 0);
  }
}

}  // namespace
