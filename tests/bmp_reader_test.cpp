// The BMP reader on well-formed files of every shape it accepts, and on each kind
// of malformed file, read both from memory (DecodeBmp) and from disk
// (ReadBmpFile); the two must always give the same outcome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "tests/support/bmp_builder.h"

// The largest single allocation since the last reset, to show that a header
// declaring a huge picture is refused before anything of that size is allocated.
namespace {
std::atomic<std::size_t> g_largestAllocation{0};
}
void* operator new(std::size_t size) {
  std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
  while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The replacement new takes its memory from malloc, so free is the matching release.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using bmptest::BmpFile;
using bmptest::CompareImages;
using bmptest::PatternFile;
using bmptest::PatternImage;
using bmptest::TempDir;

struct Outcomes {
  ImageReadResult memory;
  ImageReadResult file;
};

Outcomes ReadBoth(const std::vector<std::uint8_t>& bytes) {
  TempDir dir;
  const std::string path = dir.File("picture.bmp");
  bmptest::WriteBytes(path, bytes);
  return {DecodeBmp(bytes.data(), bytes.size()), ReadBmpFile(path)};
}

// Both readers decode `bytes` to exactly `want`.
void ExpectDecodes(const std::vector<std::uint8_t>& bytes, const RgbImage& want) {
  const Outcomes o = ReadBoth(bytes);
  for (const ImageReadResult* r : {&o.memory, &o.file}) {
    SCOPED_TRACE(r == &o.memory ? "from memory" : "from the file");
    ASSERT_TRUE(r->ok()) << r->reason;
    EXPECT_TRUE(r->reason.empty()) << r->reason;
    EXPECT_EQ(r->image.rgb.size(), std::size_t(r->image.width) * std::size_t(r->image.height) * 3);
    EXPECT_EQ(CompareImages(want, r->image), "");
  }
}

// Both readers refuse `bytes` with the same reason, which names every text of
// `mentions`, and hand back no picture.
std::string ExpectRefused(const std::vector<std::uint8_t>& bytes,
                          const std::vector<std::string>& mentions = {}) {
  const Outcomes o = ReadBoth(bytes);
  for (const ImageReadResult* r : {&o.memory, &o.file}) {
    SCOPED_TRACE(r == &o.memory ? "from memory" : "from the file");
    EXPECT_FALSE(r->ok());
    EXPECT_FALSE(r->reason.empty());
    EXPECT_EQ(r->reason.find('\n'), std::string::npos) << r->reason;
    EXPECT_EQ(r->image.width, 0);
    EXPECT_EQ(r->image.height, 0);
    EXPECT_TRUE(r->image.rgb.empty());
    for (const std::string& m : mentions)
      EXPECT_NE(r->reason.find(m), std::string::npos) << "\"" << m << "\" not in: " << r->reason;
  }
  EXPECT_EQ(o.memory.reason, o.file.reason);
  return o.memory.reason;
}

// ---------------------------------------------------------------- accepted files

TEST(BmpReaderDecodes, EveryWidthModuloFourAndPaddingIgnored) {
  for (int w = 1; w <= 12; ++w)
    for (int h = 1; h <= 4; ++h)
      for (std::uint8_t pad : {std::uint8_t(0), std::uint8_t(0xFF)}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " padding " +
                     std::to_string(pad));
        BmpFile f = PatternFile(w, h);
        f.paddingByte = pad;
        const std::vector<std::uint8_t> bytes = f.Bytes();
        // The builder's own layout: 54 bytes of headers and rows of the 4-byte stride.
        ASSERT_EQ(bytes.size(), 54 + std::size_t((3 * w + 3) / 4 * 4) * std::size_t(h));
        ExpectDecodes(bytes, PatternImage(w, h));
      }
}

TEST(BmpReaderDecodes, WidthIsTheHeaderWidthWhateverTheRowStride) {
  // Widths of 3 modulo 4 store rows of exactly 4 pixels' worth of bytes per 4/3
  // pixels; the picture keeps the declared width and gains no column.
  for (int w : {3, 7, 11}) {
    const Outcomes o = ReadBoth(PatternFile(w, 10).Bytes());
    ASSERT_TRUE(o.memory.ok()) << o.memory.reason;
    EXPECT_EQ(o.memory.image.width, w);
    EXPECT_EQ(o.memory.image.height, 10);
  }
}

TEST(BmpReaderDecodes, SinglePixel) {
  BmpFile f;
  f.picture = bmptest::RandomImage(1, 1, 7);
  const std::vector<std::uint8_t> bytes = f.Bytes();
  ASSERT_EQ(bytes.size(), 58u);
  // Stored blue, green, red; decoded red, green, blue.
  const Outcomes o = ReadBoth(bytes);
  ASSERT_TRUE(o.memory.ok()) << o.memory.reason;
  EXPECT_EQ(o.memory.image.rgb, (std::vector<std::uint8_t>{bytes[56], bytes[55], bytes[54]}));
  ExpectDecodes(bytes, f.picture);
}

TEST(BmpReaderDecodes, TopDownFilesPutTheirFirstRowAtTheTop) {
  for (int w : {1, 2, 3, 4, 5})
    for (int h : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      BmpFile top = PatternFile(w, h);
      top.topDown = true;
      const std::vector<std::uint8_t> bytes = top.Bytes();
      ASSERT_EQ(std::int32_t(bmptest::Read32(bytes, 22)), -h);
      ExpectDecodes(bytes, PatternImage(w, h));
      // The first stored pixel is the top-left one.
      const Outcomes o = ReadBoth(bytes);
      ASSERT_TRUE(o.memory.ok());
      EXPECT_EQ(o.memory.image.Pixel(0, 0), RGB(bytes[56], bytes[55], bytes[54]));
      // The same picture stored bottom-up decodes the same.
      const Outcomes bottom = ReadBoth(PatternFile(w, h).Bytes());
      EXPECT_EQ(bottom.memory.image.rgb, o.memory.image.rgb);
    }
}

TEST(BmpReaderDecodes, LargerInfoHeaders) {
  for (std::uint32_t infoSize : {52u, 56u, 64u, 108u, 124u, 1000u})
    for (bool topDown : {false, true}) {
      SCOPED_TRACE("info header of " + std::to_string(infoSize) + " bytes" +
                   (topDown ? ", top-down" : ""));
      BmpFile f = PatternFile(6, 3);
      f.infoSize = infoSize;
      f.topDown = topDown;
      const std::vector<std::uint8_t> bytes = f.Bytes();
      ASSERT_EQ(bmptest::Read32(bytes, 10), 14 + infoSize);
      ExpectDecodes(bytes, PatternImage(6, 3));
    }
}

TEST(BmpReaderDecodes, GapBeforeThePixels) {
  // The rows are taken from bfOffBits, not from the end of the headers: the gap's
  // bytes never show up as pixels.
  for (std::uint32_t gap : {1u, 4u, 100u})
    for (int w : {3, 4, 5}) {
      SCOPED_TRACE("gap " + std::to_string(gap) + ", width " + std::to_string(w));
      BmpFile f = PatternFile(w, 2);
      f.gap = gap;
      const std::vector<std::uint8_t> bytes = f.Bytes();
      ASSERT_EQ(bmptest::Read32(bytes, 10), 54 + gap);
      ExpectDecodes(bytes, PatternImage(w, 2));
    }
  // A gap after a larger info header.
  BmpFile f = PatternFile(3, 3);
  f.infoSize = 124;
  f.gap = 12;
  ExpectDecodes(f.Bytes(), PatternImage(3, 3));
}

TEST(BmpReaderDecodes, BytesAfterTheRowsAreIgnored) {
  for (std::size_t trailing : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(100)}) {
    BmpFile f = PatternFile(5, 1);
    f.trailing = trailing;
    ExpectDecodes(f.Bytes(), PatternImage(5, 1));
  }
  // A whole extra row's worth of bytes is not an extra row.
  BmpFile f = PatternFile(4, 10);
  f.trailing = 12;
  ExpectDecodes(f.Bytes(), PatternImage(4, 10));
  f.topDown = true;
  ExpectDecodes(f.Bytes(), PatternImage(4, 10));
}

TEST(BmpReaderDecodes, FieldsThatDoNotDescribeThePixelsAreIgnored) {
  BmpFile f = PatternFile(3, 2);
  f.planes = 0;
  f.reserved = 0xDEADBEEF;
  f.sizeImage = 0xFFFFFFFF;
  f.clrUsed = 256;
  ExpectDecodes(f.Bytes(), PatternImage(3, 2));
}

TEST(BmpReaderDecodes, ResultIsSelfConsistentOnDamagedFiles) {
  // Random damage to a good file: whatever the outcome, memory and file agree,
  // a success carries a whole picture of the header's size and no reason, and a
  // refusal a reason and no picture.
  std::mt19937 random(12345);
  TempDir dir;
  const std::string path = dir.File("damaged.bmp");
  int accepted = 0, refused = 0;
  for (int round = 0; round < 400; ++round) {
    BmpFile f = PatternFile(1 + int(random() % 9), 1 + int(random() % 5));
    f.topDown = random() % 2 == 0;
    std::vector<std::uint8_t> bytes = f.Bytes();
    const int changes = 1 + int(random() % 3);
    for (int c = 0; c < changes; ++c) bytes[random() % 54] = std::uint8_t(random());
    if (random() % 4 == 0) bytes.resize(random() % bytes.size());
    bmptest::WriteBytes(path, bytes);
    const ImageReadResult memory = DecodeBmp(bytes.data(), bytes.size());
    const ImageReadResult file = ReadBmpFile(path);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(memory.ok(), file.ok()) << memory.reason << " / " << file.reason;
    EXPECT_EQ(memory.reason, file.reason);
    EXPECT_EQ(memory.image.rgb, file.image.rgb);
    if (memory.ok()) {
      ++accepted;
      EXPECT_TRUE(memory.reason.empty());
      EXPECT_EQ(memory.image.width, std::int32_t(bmptest::Read32(bytes, 18)));
      const std::int32_t height = std::int32_t(bmptest::Read32(bytes, 22));
      EXPECT_EQ(memory.image.height, height < 0 ? -height : height);
      EXPECT_EQ(memory.image.rgb.size(),
                std::size_t(memory.image.width) * std::size_t(memory.image.height) * 3);
      EXPECT_EQ(bmptest::Read32(bytes, 2), bytes.size());
      EXPECT_EQ(bmptest::Read16(bytes, 28), 24u);
    } else {
      ++refused;
      EXPECT_FALSE(memory.reason.empty());
      EXPECT_TRUE(memory.image.rgb.empty());
    }
  }
  // Both outcomes were exercised.
  EXPECT_GT(accepted, 10);
  EXPECT_GT(refused, 10);
}

// ---------------------------------------------------------------- refused files

TEST(BmpReaderRefuses, MissingFile) {
  TempDir dir;
  const ImageReadResult r = ReadBmpFile(dir.File("no such file.bmp"));
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.reason.find("No such file"), std::string::npos) << r.reason;
  EXPECT_TRUE(r.image.rgb.empty());
}

TEST(BmpReaderRefuses, Directory) {
  TempDir dir;
  const ImageReadResult r = ReadBmpFile(dir.Path());
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.reason.find("directory"), std::string::npos) << r.reason;
}

TEST(BmpReaderRefuses, PipeIsRefusedWithoutWaitingForAWriter) {
  TempDir dir;
  const std::string path = dir.File("pipe.bmp");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const ImageReadResult r = ReadBmpFile(path);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.reason.find("not a regular file"), std::string::npos) << r.reason;
}

TEST(BmpReaderRefuses, UnreadableFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  TempDir dir;
  const std::string path = dir.File("locked.bmp");
  bmptest::WriteBytes(path, PatternFile(2, 2).Bytes());
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const ImageReadResult r = ReadBmpFile(path);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.reason.find("Permission denied"), std::string::npos) << r.reason;
}

TEST(BmpReaderRefuses, EmptyFile) {
  ExpectRefused({}, {"truncated header", "0 bytes"});
  const ImageReadResult r = DecodeBmp(nullptr, 0);
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.reason.empty());
}

TEST(BmpReaderRefuses, FileShorterThanTheFileHeader) {
  std::vector<std::uint8_t> bytes = PatternFile(2, 2).Bytes();
  for (std::size_t length : {std::size_t(1), std::size_t(2), std::size_t(10), std::size_t(13)}) {
    bytes.resize(length);
    ExpectRefused(bytes, {"truncated header", "file is " + std::to_string(length) + " byte"});
  }
}

TEST(BmpReaderRefuses, FileShorterThanTheInfoHeader) {
  // A valid 14-byte file header declaring the real size, then too little of the
  // info header.
  for (std::size_t length : {std::size_t(14), std::size_t(18), std::size_t(30), std::size_t(53)}) {
    BmpFile f = PatternFile(2, 2);
    f.length = length;
    const std::vector<std::uint8_t> bytes = f.Bytes();
    ASSERT_EQ(bmptest::Read32(bytes, 2), length);
    ExpectRefused(bytes, {"truncated header", std::to_string(length) + " bytes"});
  }
}

TEST(BmpReaderRefuses, WrongSignature) {
  BmpFile f = PatternFile(2, 2);
  f.signature[0] = 'X';
  f.signature[1] = 'Y';
  ExpectRefused(f.Bytes(), {"'X' 'Y'"});
  f.signature[0] = 'b';
  f.signature[1] = 'm';
  ExpectRefused(f.Bytes(), {"'b' 'm'"});
  f.signature[0] = 0;
  f.signature[1] = 0xFF;
  ExpectRefused(f.Bytes(), {"0x00 0xFF"});
}

TEST(BmpReaderRefuses, SwappedSignature) {
  BmpFile f = PatternFile(2, 2);
  f.signature[0] = 'M';
  f.signature[1] = 'B';
  ExpectRefused(f.Bytes(), {"'M' 'B'"});
}

TEST(BmpReaderRefuses, DeclaredSizeOneByteLarger) {
  BmpFile f = PatternFile(3, 2);
  f.bfSizeDelta = 1;
  const std::vector<std::uint8_t> bytes = f.Bytes();
  EXPECT_EQ(ExpectRefused(bytes), "file is " + std::to_string(bytes.size()) +
                                      " bytes but its header declares " +
                                      std::to_string(bytes.size() + 1));
}

TEST(BmpReaderRefuses, DeclaredSizeOneByteSmaller) {
  BmpFile f = PatternFile(3, 2);
  f.bfSizeDelta = -1;
  const std::vector<std::uint8_t> bytes = f.Bytes();
  EXPECT_EQ(ExpectRefused(bytes), "file is " + std::to_string(bytes.size()) +
                                      " bytes but its header declares " +
                                      std::to_string(bytes.size() - 1));
}

TEST(BmpReaderRefuses, DeclaredSizeFarOff) {
  BmpFile f = PatternFile(344, 1);  // 54 + 1032 = 1086 bytes
  f.bfSize = 2111692253;
  EXPECT_EQ(ExpectRefused(f.Bytes()), "file is 1086 bytes but its header declares 2111692253");
}

TEST(BmpReaderRefuses, TruncatedRowsOneByteShort) {
  BmpFile f = PatternFile(5, 3);
  f.length = 54 + 16 * 3 - 1;  // bfSize follows the cut, so only the rows are short
  ExpectRefused(f.Bytes(), {"3 rows", "16 bytes", "47 bytes"});
}

TEST(BmpReaderRefuses, TruncatedRowsOneRowShort) {
  BmpFile f = PatternFile(4, 10);
  f.length = 54 + 12 * 9;
  ExpectRefused(f.Bytes(), {"10 rows", "12 bytes", "108 bytes"});
  f.topDown = true;
  ExpectRefused(f.Bytes(), {"10 rows"});
}

TEST(BmpReaderRefuses, NoRowsAtAll) {
  BmpFile f = PatternFile(2, 2);
  f.length = 54;
  f.offBits = 53;  // inside the headers
  ExpectRefused(f.Bytes(), {"offset 53"});
  f.offBits = 54;  // at the very end
  ExpectRefused(f.Bytes(), {"offset 54", "54-byte file"});
}

TEST(BmpReaderRefuses, EightBitsPerPixel) {
  BmpFile f = PatternFile(4, 2);
  f.bitCount = 8;
  EXPECT_EQ(ExpectRefused(f.Bytes()), "8 bits per pixel; only 24-bit uncompressed BMP is read");
}

TEST(BmpReaderRefuses, ThirtyTwoBitsPerPixel) {
  BmpFile f = PatternFile(4, 2);
  f.bitCount = 32;
  EXPECT_EQ(ExpectRefused(f.Bytes()), "32 bits per pixel; only 24-bit uncompressed BMP is read");
}

TEST(BmpReaderRefuses, OtherBitCounts) {
  for (std::uint16_t bits : {0, 1, 4, 16, 48, 64, 0xFFFF}) {
    BmpFile f = PatternFile(4, 2);
    f.bitCount = bits;
    ExpectRefused(f.Bytes(), {std::to_string(bits) + (bits == 1 ? " bit" : " bits") + " per pixel"});
  }
}

TEST(BmpReaderRefuses, Compressed) {
  BmpFile f = PatternFile(4, 2);
  f.compression = 1;
  ExpectRefused(f.Bytes(), {"compressed", "1", "only 24-bit uncompressed"});
  for (std::uint32_t method : {2u, 3u, 4u, 5u, 6u, 0xFFFFFFFFu}) {
    f.compression = method;
    ExpectRefused(f.Bytes(), {"compressed (method " + std::to_string(method)});
  }
}

TEST(BmpReaderRefuses, ZeroWidth) {
  BmpFile f = PatternFile(2, 2);
  f.biWidth = 0;
  ExpectRefused(f.Bytes(), {"width is 0"});
}

TEST(BmpReaderRefuses, NegativeWidth) {
  BmpFile f = PatternFile(2, 2);
  f.biWidth = -2;
  ExpectRefused(f.Bytes(), {"width is -2"});
  f.biWidth = INT32_MIN;
  ExpectRefused(f.Bytes(), {"width is -2147483648"});
}

TEST(BmpReaderRefuses, ZeroHeight) {
  BmpFile f = PatternFile(2, 2);
  f.biHeight = 0;
  ExpectRefused(f.Bytes(), {"height is 0"});
}

TEST(BmpReaderRefuses, HugeDeclaredWidth) {
  BmpFile f = PatternFile(2, 2);
  f.biWidth = 0x7FFFFFFF;
  g_largestAllocation = 0;
  ExpectRefused(f.Bytes(), {"2147483647 pixels", "6442450944 bytes"});
  EXPECT_LT(g_largestAllocation.load(), std::size_t(1) << 20);
}

TEST(BmpReaderRefuses, HugeDeclaredHeight) {
  BmpFile f = PatternFile(2, 2);
  f.biHeight = 0x7FFFFFFF;
  g_largestAllocation = 0;
  ExpectRefused(f.Bytes(), {"2147483647 rows"});
  EXPECT_LT(g_largestAllocation.load(), std::size_t(1) << 20);
}

TEST(BmpReaderRefuses, HugeDeclaredTopDownHeight) {
  // -2^31 has no positive counterpart in 32 bits.
  BmpFile f = PatternFile(2, 2);
  f.biHeight = INT32_MIN;
  g_largestAllocation = 0;
  ExpectRefused(f.Bytes(), {"2147483648 rows"});
  f.biHeight = -0x7FFFFFFF;
  ExpectRefused(f.Bytes(), {"2147483647 rows"});
  EXPECT_LT(g_largestAllocation.load(), std::size_t(1) << 20);
}

TEST(BmpReaderRefuses, HugeDeclaredWidthAndHeight) {
  // Sizes whose byte count wraps in 32 bits to something that fits the file.
  BmpFile f = PatternFile(2, 2);
  g_largestAllocation = 0;
  for (std::int32_t w : {0x7FFFFFFF, 0x55555556, 0x40000000})
    for (std::int32_t h : {0x7FFFFFFF, 0x10000, 4, INT32_MIN}) {
      f.biWidth = w;
      f.biHeight = h;
      ExpectRefused(f.Bytes(), {"do not fit"});
    }
  EXPECT_LT(g_largestAllocation.load(), std::size_t(1) << 20);
}

TEST(BmpReaderRefuses, OffsetBeyondTheFile) {
  BmpFile f = PatternFile(2, 2);
  const std::size_t size = f.Bytes().size();
  f.offBits = std::uint32_t(size + 1);
  ExpectRefused(f.Bytes(), {"offset " + std::to_string(size + 1), std::to_string(size) + "-byte"});
  f.offBits = 0xFFFFFFFF;
  ExpectRefused(f.Bytes(), {"offset 4294967295"});
}

TEST(BmpReaderRefuses, OffsetSoLateTheRowsOverrunTheFile) {
  BmpFile f = PatternFile(2, 2);  // 16 bytes of rows
  f.offBits = 55;
  ExpectRefused(f.Bytes(), {"2 rows", "15 bytes from offset 55"});
}

TEST(BmpReaderRefuses, OffsetInsideTheHeaders) {
  BmpFile f = PatternFile(2, 2);
  f.offBits = 53;
  ExpectRefused(f.Bytes(), {"offset 53", "14 + 40"});
  f.offBits = 0;
  ExpectRefused(f.Bytes(), {"offset 0"});
  // With a 108-byte info header the rows cannot start before offset 122.
  f.infoSize = 108;
  f.offBits = 121;
  ExpectRefused(f.Bytes(), {"offset 121", "14 + 108"});
}

TEST(BmpReaderRefuses, InfoHeaderOf12Bytes) {
  // The old 12-byte header; the bit count field (offset 28) must still say 24 for
  // the header size to be the first objection.
  BmpFile f = PatternFile(2, 2);
  f.infoSize = 12;
  f.offBits = 54;
  ExpectRefused(f.Bytes(), {"info header is 12 bytes", "40 bytes or more"});
}

TEST(BmpReaderRefuses, InfoHeaderSizesBelow40) {
  for (std::uint32_t infoSize : {0u, 16u, 39u}) {
    BmpFile f = PatternFile(2, 2);
    f.infoSize = infoSize;
    f.offBits = 54;
    ExpectRefused(f.Bytes(), {"info header is " + std::to_string(infoSize) + " bytes"});
  }
}

TEST(BmpReaderRefuses, InfoHeaderLargerThanTheFile) {
  BmpFile f = PatternFile(2, 2);
  f.infoSize = 0xFFFFFFF0;
  f.offBits = 54;
  ExpectRefused(f.Bytes(), {"offset 54", "14 + 4294967280"});
}

// ---------------------------------------------------------------- order of checks

TEST(BmpReaderChecks, FirstObjectionIsReportedInAFixedOrder) {
  // Each file fails two checks; the reason names the earlier one.
  struct Case {
    const char* what;
    void (*spoil)(BmpFile*);
    const char* mention;
  };
  const Case cases[] = {
      {"signature before size",
       [](BmpFile* f) { f->signature[0] = 'M', f->signature[1] = 'B', f->bfSizeDelta = 5; },
       "'M' 'B'"},
      {"size before bit count", [](BmpFile* f) { f->bfSizeDelta = 5, f->bitCount = 8; },
       "header declares"},
      {"bit count before compression", [](BmpFile* f) { f->bitCount = 32, f->compression = 3; },
       "32 bits per pixel"},
      {"compression before header size", [](BmpFile* f) { f->compression = 1, f->infoSize = 12; },
       "compressed"},
      {"header size before offset", [](BmpFile* f) { f->infoSize = 12, f->offBits = 0; },
       "info header is 12"},
      {"offset before width", [](BmpFile* f) { f->offBits = 20, f->biWidth = 0; }, "offset 20"},
      {"width before height", [](BmpFile* f) { f->biWidth = -1, f->biHeight = 0; }, "width is -1"},
      {"height before rows", [](BmpFile* f) { f->biHeight = 0, f->length = 60; }, "height is 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFile f = PatternFile(2, 2);
    c.spoil(&f);
    ExpectRefused(f.Bytes(), {c.mention});
  }
}

TEST(BmpReaderChecks, EveryShortenedFileIsRefused) {
  // Every prefix of a good file, with bfSize set to the prefix's length so the
  // cut itself must be noticed.
  const BmpFile whole = PatternFile(5, 3);
  const std::size_t full = whole.Bytes().size();
  for (std::size_t length = 0; length < full; ++length) {
    SCOPED_TRACE("first " + std::to_string(length) + " bytes");
    BmpFile f = whole;
    f.length = length;
    const std::vector<std::uint8_t> bytes = f.Bytes();
    const ImageReadResult r = DecodeBmp(bytes.data(), bytes.size());
    EXPECT_FALSE(r.ok());
    if (length < 54)
      EXPECT_NE(r.reason.find("truncated header"), std::string::npos) << r.reason;
    else if (length == 54)
      EXPECT_NE(r.reason.find("offset 54 is not inside"), std::string::npos) << r.reason;
    else
      EXPECT_NE(r.reason.find("do not fit"), std::string::npos) << r.reason;
  }
}

// ---------------------------------------------------------------- reading a file

TEST(BmpReaderFile, HeadersAreCheckedBeforeTheRowsAreRead) {
  // An 8-bit file of 4 MiB is refused without a buffer anywhere near its size.
  BmpFile f = PatternFile(1024, 1024);
  f.bitCount = 8;
  TempDir dir;
  const std::string path = dir.File("big8.bmp");
  bmptest::WriteBytes(path, f.Bytes());
  g_largestAllocation = 0;
  const ImageReadResult r = ReadBmpFile(path);
  EXPECT_FALSE(r.ok());
  EXPECT_LT(g_largestAllocation.load(), std::size_t(64) << 10);
}

TEST(BmpReaderFile, LargeFileDecodesInPieces) {
  // Rows read through a bounded buffer land in the right place across pieces.
  for (bool topDown : {false, true}) {
    BmpFile f;
    f.picture = bmptest::RandomImage(700, 700, 99);
    f.topDown = topDown;
    g_largestAllocation = 0;
    ExpectDecodes(f.Bytes(), f.picture);
  }
}

TEST(BmpReaderFile, FilesOf4GiBOrMoreAreRefused) {
  // A sparse file: its size is 4 GiB but it holds only the headers.
  TempDir dir;
  const std::string path = dir.File("huge.bmp");
  const std::vector<std::uint8_t> head = PatternFile(2, 2).Bytes();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  const bool made = ::write(fd, head.data(), 54) == 54 && ::ftruncate(fd, off_t(1) << 32) == 0;
  ::close(fd);
  if (!made) GTEST_SKIP() << "no sparse 4 GiB file here";
  g_largestAllocation = 0;
  const ImageReadResult r = ReadBmpFile(path);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.reason.find("4294967296 bytes"), std::string::npos) << r.reason;
  EXPECT_NE(r.reason.find("4 GiB"), std::string::npos) << r.reason;
  EXPECT_LT(g_largestAllocation.load(), std::size_t(64) << 10);
}

}  // namespace
