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
#include "imaging/image_reader.h"
#include "session/headless_session.h"
#include "tests/support/load_state.h"

// --- the largest allocation, counted while armed -------------------------------
// The replaced operators pair malloc with free themselves; gcc cannot see that, nor
// the sizes of the crafted files it inlines into Patched.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
#include "tests/support/failing_new.h"

namespace {

using namespace loadstate;
std::atomic<bool> g_countAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};

}  // namespace

// Counts, never fails.
bool FailsAllocation(std::size_t n) {
  if (g_countAllocations.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (n > seen && !g_largestAllocation.compare_exchange_weak(seen, n)) {
    }
  }
  return false;
}

namespace {

// The largest single allocation made by `action`.
std::size_t LargestAllocation(const std::function<void()>& action) {
  g_largestAllocation = 0;
  g_countAllocations = true;
  action();
  g_countAllocations = false;
  return g_largestAllocation;
}


// --- refused loads ---------------------------------------------------------------

enum class Load { kDamaged, kMask, kOriginal };
const char* LoadName(Load l) {
  return l == Load::kDamaged ? "damaged" : l == Load::kMask ? "mask" : "original";
}
FileResult DoLoad(CHeadlessSession& dlg, Load load, const std::string& path) {
  switch (load) {
    case Load::kDamaged: return dlg.files.LoadDamaged(path);
    case Load::kMask: return dlg.files.LoadMask(path);
    case Load::kOriginal: return dlg.files.LoadOriginal(path);
  }
  return FileResult();
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
    {"16385 wide",
     [](const TempDir& d) { return Written(d, "wide.bmp", MakeBmp(16385, 1, Photo)); }, nullptr,
     nullptr},
    {"16385 high",
     [](const TempDir& d) { return Written(d, "high.bmp", MakeBmp(2, 16385, Photo)); }, nullptr,
     nullptr},
};

TEST(NothingLostTest, EveryRefusedLoadLeavesEverythingAsItWas) {
  for (const BadFile& bad : kBadFiles)
    for (Load load : kLoads) {
      SCOPED_TRACE(std::string(bad.name) + " as the " + LoadName(load) + " image");
      TempDir dir;
      CHeadlessSession dlg;
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
        EXPECT_NE(r.reason.find("16385"), std::string::npos) << r.reason;
        EXPECT_NE(r.reason.find("the limit is 16384 pixels a side"), std::string::npos)
            << r.reason;
      }
      ExpectSameState(before, Capture(dlg), "after the load");
    }
}

TEST(NothingLostTest, MaskOfAnotherSizeIsRefusedWithBothSizes) {
  const std::array<int, 2> sizes[] = {{5, 4}, {7, 4}, {6, 3}, {6, 5}, {4, 6}, {1, 1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
    TempDir dir;
    CHeadlessSession dlg;
    Prepare(dlg, dir);
    if (HasFatalFailure()) return;
    const std::string path = Written(dir, "other.bmp", MakeBmp(size[0], size[1], Scratch));
    const State before = Capture(dlg);
    const FileResult r = dlg.files.LoadMask(path);
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
  CHeadlessSession dlg;
  WriteBytes(dir / "original.bmp", MakeBmp(6, 4, Truth));
  WriteBytes(dir / "mask.bmp", MakeBmp(6, 4, Scratch));
  ASSERT_TRUE(dlg.files.LoadOriginal(dir / "original.bmp").ok);
  dlg.engine.m_fields.m_fThreshold = 0.5f;
  CDialogFields typed = dlg.engine.ShownFields();
  typed.m_fThreshold = 0.25f;
  dlg.engine.SetShownFields(typed);
  const State before = Capture(dlg);
  const FileResult r = dlg.files.LoadMask(dir / "mask.bmp");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.message.empty());
  EXPECT_FALSE(r.reason.empty());
  ExpectSameState(before, Capture(dlg), "after the mask load");
  EXPECT_EQ(dlg.engine.m_pMaskList, nullptr);
  EXPECT_EQ(dlg.files.m_surfMask.bLoaded, 0);
}

// --- failed saves ----------------------------------------------------------------

// Passes everything to the real file layer, but lets only `budget` bytes through
// (then writes that part and fails, as a full disk does), or fails on closing.
class FailingSink : public FileSink {
 public:
  explicit FailingSink(std::size_t budget, bool failClose = false)
      : budget_(budget), failClose_(failClose) {}
  bool CreateNew(const std::string& path, int permissions, std::string* error) override {
    created_.push_back(path);
    return real_.CreateNew(path, permissions, error);
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
  bool Sync(std::string* error) override { return real_.Sync(error); }
  void Remove(const std::string& path) override { real_.Remove(path); }
  bool Move(const std::string& from, const std::string& to, bool replace,
            std::string* error) override {
    return real_.Move(from, to, replace, error);
  }
  void SyncFolder(const std::string& folder) override { real_.SyncFolder(folder); }
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
  CHeadlessSession dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', 0, 1, 2, 3};
  WriteBytes(dir / "result.bmp", precious);
  const auto listing = Listing(dir.path());
  const State before = Capture(dlg);
  const FileResult r = dlg.files.SaveResult(dir / "result.bmp");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "cannot create file");
  EXPECT_FALSE(r.reason.empty());
  EXPECT_EQ(ReadBytes(dir / "result.bmp"), precious);
  EXPECT_EQ(Listing(dir.path()), listing);
  ExpectSameState(before, Capture(dlg), "after the save");
}

TEST(NothingLostTest, SaveWhereNoFileCanBeCreatedLeavesNothing) {
  TempDir dir;
  CHeadlessSession dlg;
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
      const FileResult r = dlg.files.SaveResult(target, overwrite);
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
  CHeadlessSession dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const std::size_t full = EncodeBmp(dlg.files.m_surfResult.picture).size();
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
      const FileResult r = dlg.files.SaveResult(target, overwrite, sink);
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
    const FileResult r = dlg.files.SaveResult(overwrite ? dir / "old.bmp" : dir / "new.bmp", overwrite, sink);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Listing(dir.path()), listing);
    EXPECT_EQ(ReadBytes(dir / "old.bmp"), precious);
  }
  ExpectSameState(before, Capture(dlg), "after the failed saves");

  // The same sink with room enough writes the whole file, which reads back as the
  // result: the failures above came from the budget alone.
  FailingSink roomy(full);
  ASSERT_TRUE(dlg.files.SaveResult(dir / "new.bmp", false, roomy).ok);
  const ImageReadResult back = ReadBmpFile(dir / "new.bmp");
  ASSERT_TRUE(back.ok()) << back.reason;
  EXPECT_EQ(back.image.width, 6);
  EXPECT_EQ(back.image.height, 4);
  EXPECT_EQ(back.image.rgb, dlg.files.m_surfResult.picture.rgb);
}

TEST(NothingLostTest, OverwriteKeepsTheOldFilesModeAndItsLink) {
  TempDir dir;
  CHeadlessSession dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  for (const char* name : {"kept.bmp", "kept.png"}) {
    SCOPED_TRACE(name);
    const std::string target = dir / name, link = dir / (std::string("link-") + name);
    WriteBytes(target, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(symlink(name, link.c_str()), 0);
    const FileResult r = dlg.files.SaveResult(link, true);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0600));
    const ImageReadResult back = ReadImageFile(target);
    ASSERT_TRUE(back.ok()) << back.reason;
    EXPECT_EQ(back.image.height, 4);
  }
  EXPECT_EQ(Listing(dir.path()),
            (std::vector<std::string>{"damaged.bmp", "kept.bmp", "kept.png", "link-kept.bmp",
                                      "link-kept.png", "mask.bmp", "original.bmp"}));
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
    ImageReadResult fromMemory, fromFile;
    EXPECT_LT(LargestAllocation([&] { fromMemory = DecodeBmp(f.data(), f.size()); }), 4096u);
    EXPECT_LT(LargestAllocation([&] { fromFile = ReadBmpFile(path); }), 65536u);
    EXPECT_FALSE(fromMemory.ok());
    EXPECT_FALSE(fromFile.ok());
    EXPECT_FALSE(fromMemory.reason.empty());
    EXPECT_FALSE(fromFile.reason.empty());
    CHeadlessSession dlg;
    FileResult r;
    EXPECT_LT(LargestAllocation([&] { r = dlg.files.LoadDamaged(path); }), 65536u);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "File Gagal diBuka");
    EXPECT_EQ(dlg.files.m_surfDamaged.bLoaded, 0);
  }
}

}  // namespace
