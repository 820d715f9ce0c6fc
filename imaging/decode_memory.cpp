// The readers' memory, from their headers. The figures mirror what each reader
// allocates; tests/decode_memory_test.cpp measures the readers' heap and holds the
// estimate above it and close to it, so a reader that changes its buffers shows.
#include "imaging/decode_memory.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

// ReadBmp reads whole rows through a buffer of about 1 MiB, at least one row, at
// most the whole pixel block.
constexpr std::uint64_t kBmpRowBuffer = kMiB;
// The open file, the decoders' contexts and tables: measured 18 KiB (BMP), 52 to
// 56 KiB (PNG: libspng and zlib's inflate state and 32 KiB window) and 85 to 90
// KiB (JPEG: libjpeg's tables and the 64 KiB read buffer), with room.
constexpr std::uint64_t kBmpFixed = 64 * kKiB;
constexpr std::uint64_t kPngFixed = 128 * kKiB;
constexpr std::uint64_t kJpegFixed = 160 * kKiB;
// libspng's rows (the current and previous scanline and the row being put
// together, at most 8 bytes a pixel for 16-bit RGBA) and the reader's scanline:
// measured 9 bytes a pixel of a row for 8-bit RGB, 24 for 16-bit RGBA.
constexpr std::uint64_t kPngBytesPerColumn = 32;
// The ancillary chunks libspng keeps (the PNG reader's cache limit).
constexpr std::uint64_t kPngChunkCache = 16 * kMiB;
// libjpeg's sample rows, context rows for upsampling and colour conversion:
// measured 8 bytes a pixel of a row for grey, 25 for 4:4:4, 36 for 4:2:0.
constexpr std::uint64_t kJpegBytesPerColumnPerComponent = 16;

}  // namespace

std::uint64_t DecoderPeakBytes(const ImageHeader& h) {
  if (!h.ok() || h.width < 1 || h.height < 1) return 0;
  const std::uint64_t w = std::uint64_t(h.width), rows = std::uint64_t(h.height);
  // Both sides are within the readers' limits (ints), so no product overflows.
  const std::uint64_t picture = w * rows * 3;
  switch (h.format) {
    case ImageFormat::kBmp: {
      const std::uint64_t stride = (w * 3 + 3) / 4 * 4;
      const std::uint64_t bufferRows = std::clamp<std::uint64_t>(kBmpRowBuffer / stride, 1, rows);
      return picture + stride * bufferRows + kBmpFixed;
    }
    case ImageFormat::kPng:
      return picture + kPngBytesPerColumn * w + kPngFixed + kPngChunkCache;
    case ImageFormat::kJpeg:
      return picture + h.coefficientBytes +
             kJpegBytesPerColumnPerComponent * w * std::uint64_t(std::max(h.components, 1)) +
             kJpegFixed;
  }
  return 0;
}
