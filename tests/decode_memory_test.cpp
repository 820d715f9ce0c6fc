// The decoders' memory: the estimate made from a header is at least the most heap
// the reader holds at once while reading that file, and not far above it, for
// each format and its kinds (BMP; PNG of 8 and 16 bits, interlaced, palette, with
// large text chunks; JPEG baseline and progressive, 4:2:0, 4:4:4 and grey), at
// several sizes. The heap is counted by replacing malloc and its kin with
// counting wrappers around the C library's own, so libspng, zlib, libjpeg and
// operator new are all seen. A sanitizer replaces malloc itself; there the
// measurement is not made.
#include "imaging/decode_memory.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/image_reader.h"
#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define RUVANTA_HEAP_COUNTED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define RUVANTA_HEAP_COUNTED 0
#endif
#endif
#ifndef RUVANTA_HEAP_COUNTED
#define RUVANTA_HEAP_COUNTED 1
#endif

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

}  // namespace

#if RUVANTA_HEAP_COUNTED
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
void* Counted(void* p) {
  if (p != nullptr) {
    const long long live = g_live += (long long)malloc_usable_size(p);
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
  }
  return p;
}
void Uncounted(void* p) {
  if (p != nullptr) g_live -= (long long)malloc_usable_size(p);
}
}  // namespace

extern "C" {
void* malloc(std::size_t n) { return Counted(__libc_malloc(n)); }
void* calloc(std::size_t n, std::size_t size) { return Counted(__libc_calloc(n, size)); }
void free(void* p) {
  Uncounted(p);
  __libc_free(p);
}
void* realloc(void* p, std::size_t n) {
  const long long before = p ? (long long)malloc_usable_size(p) : 0;
  void* q = __libc_realloc(p, n);
  if (q == nullptr && n != 0) return nullptr;  // p is still there, unchanged
  g_live -= before;
  return Counted(q);
}
void* memalign(std::size_t alignment, std::size_t n) {
  return Counted(__libc_memalign(alignment, n));
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
  return Counted(__libc_memalign(alignment, n));
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
  void* p = Counted(__libc_memalign(alignment, n));
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}
#endif

namespace {

using namespace imagetest;

struct Measured {
  std::uint64_t peak = 0;  // above what was live before the read
  ImageHeader header;
  bool ok = false;
};

// Reads the file at `path` and returns the most heap held at once meanwhile.
Measured Measure(const std::string& path) {
  Measured m;
  m.header = ReadImageHeader(path);
  const long long before = g_live;
  g_peak = before;
  {
    const ImageReadResult r = ReadImageFile(path);
    m.ok = r.ok();
  }
  m.peak = std::uint64_t(g_peak - before);
  return m;
}

std::vector<std::uint8_t> Bmp(const RgbImage& image) {
  const std::size_t stride = (std::size_t(image.width) * 3 + 3) / 4 * 4;
  const std::size_t size = 54 + stride * std::size_t(image.height);
  std::vector<std::uint8_t> f(size, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, std::uint32_t(size));
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(image.width));
  put32(22, std::uint32_t(image.height));
  f[26] = 1;
  f[28] = 24;
  return f;
}

PngSpec PngOf(int w, int h, int colour, int depth, bool interlaced) {
  PngSpec spec;
  spec.width = w;
  spec.height = h;
  spec.colour = colour;
  spec.depth = depth;
  spec.interlaced = interlaced;
  spec.samples = PatternSamples(w, h, PngChannels(colour), depth);
  if (colour == kPalette)
    for (int i = 0; i < (1 << depth); ++i)
      spec.palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
  return spec;
}

// A PNG with `bytes` of text in a tEXt chunk before its IEND.
std::vector<std::uint8_t> WithText(std::vector<std::uint8_t> png, std::size_t bytes) {
  const std::vector<PngChunk> chunks = PngChunks(png);
  std::vector<std::uint8_t> tail(png.begin() + std::ptrdiff_t(chunks.back().offset), png.end());
  png.resize(chunks.back().offset);
  std::vector<std::uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  text.resize(text.size() + bytes, 'x');
  AppendPngChunk(&png, "tEXt", text);
  png.insert(png.end(), tail.begin(), tail.end());
  return png;
}

struct Case {
  std::string name;
  std::vector<std::uint8_t> file;
};

std::vector<Case> Cases(int w, int h) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  const RgbImage smooth = SmoothImage(w, h);
  std::vector<Case> cases;
  cases.push_back({"bmp " + size, Bmp(smooth)});
  cases.push_back({"png rgb8 " + size, EncodePngLib(PngOf(w, h, kRgb, 8, false))});
  cases.push_back({"png rgba16 " + size, EncodePngLib(PngOf(w, h, kRgba, 16, false))});
  cases.push_back({"png rgb8 interlaced " + size, EncodePngLib(PngOf(w, h, kRgb, 8, true))});
  cases.push_back({"png palette4 " + size, EncodePngLib(PngOf(w, h, kPalette, 4, false))});
  JpegSpec jpeg = JpegOf(smooth, 90);
  cases.push_back({"jpeg 420 " + size, EncodeJpegLib(jpeg)});
  jpeg.subsample = false;
  cases.push_back({"jpeg 444 " + size, EncodeJpegLib(jpeg)});
  jpeg.progressive = true;
  cases.push_back({"jpeg 444 progressive " + size, EncodeJpegLib(jpeg)});
  jpeg.subsample = true;
  cases.push_back({"jpeg 420 progressive " + size, EncodeJpegLib(jpeg)});
  JpegSpec grey;
  grey.width = w;
  grey.height = h;
  grey.space = JpegSpace::kGrey;
  grey.samples.assign(std::size_t(w) * std::size_t(h), 0);
  for (std::size_t i = 0; i < grey.samples.size(); ++i) grey.samples[i] = std::uint8_t(i / 7);
  cases.push_back({"jpeg grey " + size, EncodeJpegLib(grey)});
  grey.progressive = true;
  cases.push_back({"jpeg grey progressive " + size, EncodeJpegLib(grey)});
  return cases;
}

// How far above the measured peak the estimate may be: 5 % or 256 KiB, and for a
// PNG the 16 MiB of ancillary chunks it allows for besides.
std::uint64_t Margin(const Measured& m) {
  const std::uint64_t slack = std::max<std::uint64_t>(m.peak / 20, 256 * 1024);
  return slack + (m.header.format == ImageFormat::kPng ? std::uint64_t(16) << 20 : 0);
}

TEST(DecoderPeakBytes, IsAtLeastWhatEachReaderHoldsAndNotFarAbove) {
  if (!RUVANTA_HEAP_COUNTED) GTEST_SKIP() << "a sanitizer counts the heap itself";
  // The counter sees the decoders' own allocations.
  const long long before = g_live;
  void* p = std::malloc(1 << 20);
  EXPECT_GE(g_live - before, 1 << 20);
  std::free(p);
  EXPECT_EQ(DecoderPeakBytes(HeaderFailure(ImageError::kTooLarge, "too large")), 0u);

  TempDir dir;
  std::vector<Case> cases;
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{97, 61}, {640, 480}, {2400, 1600}})
    for (Case& c : Cases(w, h)) cases.push_back(std::move(c));
  // 6 MB of text kept by libspng until the end of the read.
  cases.push_back(
      {"png rgb8 text 640x480", WithText(EncodePngLib(PngOf(640, 480, kRgb, 8, false)), 6000000)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir.File("file"), c.file);
    const Measured m = Measure(dir.File("file"));
    ASSERT_TRUE(m.ok);
    ASSERT_TRUE(m.header.ok()) << m.header.reason;
    const std::uint64_t estimate = DecoderPeakBytes(m.header);
    const double pixels = double(m.header.width) * double(m.header.height);
    std::printf("%-30s peak %9llu (%5.2f B/px), estimate %9llu (%5.2f B/px)\n", c.name.c_str(),
                (unsigned long long)m.peak, double(m.peak) / pixels, (unsigned long long)estimate,
                double(estimate) / pixels);
    EXPECT_GE(estimate, m.peak);
    EXPECT_LE(estimate, m.peak + Margin(m));
  }
}

}  // namespace
