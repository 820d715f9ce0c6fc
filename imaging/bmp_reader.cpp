// Reader of 24-bit uncompressed BMP files.
//
// The checks need only the file's size and its first 54 bytes (the 14-byte file
// header and the first 40 bytes of the info header), so a file on disk is checked
// before any pixel row is read, and the memory and file paths run the very same
// checks (CheckHeaders) and the very same row decoding (DecodeRows).
//
// All header arithmetic is done in 64 bits on values that cannot overflow there:
// the fields are at most 32 bits wide and no product of two of them is formed
// before it is known to fit.
#include "imaging/bmp_reader.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "imaging/input_file.h"
#include "imaging/pixel_rows.h"

namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kInfoHeaderRead = 40;  // the part of the info header examined
constexpr std::uint64_t kHeadersSize = kFileHeaderSize + kInfoHeaderRead;
constexpr std::uint64_t kFileSizeLimit = std::uint64_t(1) << 32;  // 4 GiB
constexpr const char* kOnly24 = "only 24-bit uncompressed BMP is read";

std::uint32_t U16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::int32_t S32(const std::uint8_t* p) {
  const std::uint32_t u = U32(p);
  return u <= 0x7FFFFFFFu ? std::int32_t(u)
                          : std::int32_t(std::int64_t(u) - (std::int64_t(1) << 32));
}

std::string N(std::uint64_t v) { return std::to_string(v); }
std::string N(std::int64_t v) { return std::to_string(v); }
// "1 byte", "2 bytes".
std::string Count(std::uint64_t n, const char* unit) {
  return N(n) + " " + unit + (n == 1 ? "" : "s");
}

const char* CompressionName(std::uint32_t c) {
  switch (c) {
    case 1:
      return ", RLE8";
    case 2:
      return ", RLE4";
    case 3:
      return ", bit fields";
    case 4:
      return ", JPEG";
    case 5:
      return ", PNG";
    case 6:
      return ", alpha bit fields";
    default:
      return "";
  }
}

// Where the rows are and how they are laid out, once the headers have passed.
struct Layout {
  int width = 0;
  int height = 0;            // number of rows
  bool topDown = false;      // first stored row is the top row
  std::uint64_t offset = 0;  // of the first stored row
  std::uint64_t stride = 0;  // bytes per stored row, padding included
  std::uint64_t rowBytes() const { return std::uint64_t(width) * 3; }
  std::uint64_t blockBytes() const { return stride * std::uint64_t(height); }
};

struct HeaderCheck {
  ImageError error = ImageError::kNone;
  std::string reason;
};
HeaderCheck Bad(ImageError error, std::string reason) { return {error, std::move(reason)}; }

// Checks a file of `fileSize` bytes whose first `headLength` bytes are `head`
// (headLength = min(fileSize, 54)). Returns no error and fills `layout` when the
// rows can be decoded and the picture is within the limits.
HeaderCheck CheckHeaders(const std::uint8_t* head, std::size_t headLength, std::uint64_t fileSize,
                         const ImageLimits& limits, Layout* layout) {
  if (fileSize >= kFileSizeLimit)
    return Bad(ImageError::kTooLarge, "file is " + N(fileSize) + " bytes; files of 4 GiB (" +
                                          N(kFileSizeLimit) + " bytes) or more are not read");
  if (headLength < kFileHeaderSize)
    return Bad(ImageError::kMalformed, "truncated header: file is " + Count(fileSize, "byte") +
                                           ", shorter than the " + N(kFileHeaderSize) +
                                           "-byte file header");
  if (head[0] != 'B' || head[1] != 'M')
    return Bad(ImageError::kNotRecognised, "not a BMP file: it starts with " + ByteText(head[0]) +
                                               " " + ByteText(head[1]) + " instead of 'B' 'M'");
  const std::uint64_t declaredSize = U32(head + 2);
  if (declaredSize != fileSize)
    return Bad(ImageError::kMalformed, "file is " + Count(fileSize, "byte") +
                                           " but its header declares " + N(declaredSize));
  if (headLength < kHeadersSize)
    return Bad(ImageError::kMalformed, "truncated header: file is " + Count(fileSize, "byte") +
                                           ", shorter than the " + N(kHeadersSize) +
                                           " bytes of the file and info headers");

  const std::uint64_t offBits = U32(head + 10);
  const std::uint64_t infoSize = U32(head + 14);
  const std::int64_t width = S32(head + 18);
  const std::int64_t height = S32(head + 22);
  const std::uint32_t bitCount = U16(head + 28);
  const std::uint32_t compression = U32(head + 30);

  if (bitCount != 24)
    return Bad(ImageError::kUnsupported, Count(bitCount, "bit") + " per pixel; " + kOnly24);
  if (compression != 0)
    return Bad(ImageError::kUnsupported, "compressed (method " + N(std::uint64_t(compression)) +
                                             CompressionName(compression) + "); " + kOnly24);
  if (infoSize < kInfoHeaderRead)
    return Bad(ImageError::kUnsupported, "info header is " + N(infoSize) +
                                             " bytes; only info headers of " + N(kInfoHeaderRead) +
                                             " bytes or more are read");
  if (offBits < kFileHeaderSize + infoSize)
    return Bad(ImageError::kMalformed, "pixel data offset " + N(offBits) +
                                           " lies inside the headers (" + N(kFileHeaderSize) +
                                           " + " + N(infoSize) + " bytes)");
  if (offBits >= fileSize)
    return Bad(ImageError::kMalformed, "pixel data offset " + N(offBits) + " is not inside the " +
                                           N(fileSize) + "-byte file");
  if (width < 1)
    return Bad(ImageError::kMalformed, "width is " + N(width) + "; it must be at least 1");
  if (height == 0) return Bad(ImageError::kMalformed, "height is 0; it must not be 0");

  // |height| is at most 2^31 and the stride below 2^34: both fit easily, and the
  // row count is compared by division so no product is formed unchecked.
  const std::uint64_t rows = std::uint64_t(height < 0 ? -height : height);
  const std::uint64_t stride = (std::uint64_t(width) * 3 + 3) / 4 * 4;
  const std::uint64_t available = fileSize - offBits;
  if (stride > available || rows > available / stride)
    return Bad(ImageError::kMalformed, Count(rows, "row") + " of " + Count(stride, "byte") + " (" +
                                           Count(std::uint64_t(width), "pixel") +
                                           " each) do not fit in the " + Count(available, "byte") +
                                           " from offset " + N(offBits) +
                                           " to the end of the file");

  // The rows fit in a file below 4 GiB, so both sizes fit an int and the
  // decoded picture (3 bytes a pixel, never more than the stored rows) a size_t.
  const std::string limit = CheckImageLimits(width, std::int64_t(rows), limits);
  if (!limit.empty()) return Bad(ImageError::kTooLarge, limit);
  layout->width = int(width);
  layout->height = int(rows);
  layout->topDown = height < 0;
  layout->offset = offBits;
  layout->stride = stride;
  return HeaderCheck();
}

ImageHeader HeaderOf(const HeaderCheck& check, const Layout& layout) {
  if (check.error != ImageError::kNone) return HeaderFailure(check.error, check.reason);
  ImageHeader header;
  header.format = ImageFormat::kBmp;
  header.width = layout.width;
  header.height = layout.height;
  return header;
}

// Makes room for the decoded picture; false when memory runs out.
bool AllocatePicture(const Layout& layout, RgbImage* image, std::string* reason) {
  // The limits were checked on the header; this guards the arithmetic only.
  // width * height * 3 <= stride * height, which the checks kept below 4 GiB.
  const std::uint64_t bytes = layout.rowBytes() * std::uint64_t(layout.height);
  if (bytes > std::numeric_limits<std::size_t>::max() ||
      bytes > std::uint64_t(image->rgb.max_size())) {
    *reason = "a " + N(std::uint64_t(layout.width)) + " x " + N(std::uint64_t(layout.height)) +
              " picture does not fit in memory";
    return false;
  }
  try {
    image->rgb.assign(std::size_t(bytes), 0);
  } catch (const std::bad_alloc&) {
    *reason = "not enough memory for a " + N(std::uint64_t(layout.width)) + " x " +
              N(std::uint64_t(layout.height)) + " picture (" + N(bytes) + " bytes)";
    return false;
  } catch (const std::length_error&) {
    *reason = "a " + N(std::uint64_t(layout.width)) + " x " + N(std::uint64_t(layout.height)) +
              " picture does not fit in memory";
    return false;
  }
  image->width = layout.width;
  image->height = layout.height;
  return true;
}

// Decodes `count` stored rows, starting with stored row `first`, into the picture.
void DecodeRows(const Layout& layout, const std::uint8_t* rows, int first, int count,
                RgbImage* image) {
  const std::size_t rowBytes = std::size_t(layout.rowBytes());
  for (int i = 0; i < count; ++i) {
    const int stored = first + i;
    const int y = layout.topDown ? stored : layout.height - 1 - stored;
    const std::uint8_t* in = rows + std::size_t(i) * std::size_t(layout.stride);
    std::uint8_t* out = image->rgb.data() + std::size_t(y) * rowBytes;
    SwapRedBlue(in, out, std::size_t(layout.width));
  }
}

}  // namespace

ImageReadResult DecodeBmp(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  Layout layout;
  const HeaderCheck check = CheckHeaders(data, std::min<std::size_t>(size, kHeadersSize),
                                         std::uint64_t(size), limits, &layout);
  if (check.error != ImageError::kNone) return ImageFailure(check.error, check.reason);
  ImageReadResult result;
  std::string reason;
  if (!AllocatePicture(layout, &result.image, &reason))
    return ImageFailure(ImageError::kOutOfMemory, reason);
  DecodeRows(layout, data + layout.offset, 0, layout.height, &result.image);
  return result;
}

ImageReadResult ReadBmpFile(const std::string& path, const ImageLimits& limits) {
  return ReadOpenedFile(path, [&](InputFile& file) { return ReadBmp(file, limits); });
}

ImageReadResult ReadBmp(InputFile& file, const ImageLimits& limits) {
  const std::uint64_t fileSize = file.size();
  std::uint8_t head[kHeadersSize];
  const std::size_t headLength = std::size_t(std::min<std::uint64_t>(fileSize, kHeadersSize));
  std::string reason;
  if (!file.ReadAt(head, headLength, 0, &reason))
    return ImageFailure(ImageError::kReadFailed, reason);
  Layout layout;
  const HeaderCheck check = CheckHeaders(head, headLength, fileSize, limits, &layout);
  if (check.error != ImageError::kNone) return ImageFailure(check.error, check.reason);

  ImageReadResult result;
  if (!AllocatePicture(layout, &result.image, &reason))
    return ImageFailure(ImageError::kOutOfMemory, reason);
  // The rows go through a buffer of whole rows of about 1 MiB (at least one row).
  const int rowsPerChunk = int(std::clamp<std::uint64_t>((std::uint64_t(1) << 20) / layout.stride,
                                                         1, std::uint64_t(layout.height)));
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(std::size_t(layout.stride) * std::size_t(rowsPerChunk));
  } catch (const std::exception&) {
    return ImageFailure(ImageError::kOutOfMemory,
                        "not enough memory for a row of " + N(layout.stride) + " bytes");
  }
  for (int first = 0; first < layout.height; first += rowsPerChunk) {
    const int count = std::min(rowsPerChunk, layout.height - first);
    const std::uint64_t offset = layout.offset + std::uint64_t(first) * layout.stride;
    if (!file.ReadAt(buffer.data(), std::size_t(layout.stride) * std::size_t(count), offset,
                     &reason))
      return ImageFailure(ImageError::kReadFailed, reason);
    DecodeRows(layout, buffer.data(), first, count, &result.image);
  }
  return result;
}

ImageHeader DecodeBmpHeader(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  Layout layout;
  const HeaderCheck check = CheckHeaders(data, std::min<std::size_t>(size, kHeadersSize),
                                         std::uint64_t(size), limits, &layout);
  return HeaderOf(check, layout);
}

ImageHeader ReadBmpHeader(InputFile& file, const ImageLimits& limits) {
  std::uint8_t head[kHeadersSize];
  const std::size_t headLength = std::size_t(std::min<std::uint64_t>(file.size(), kHeadersSize));
  std::string reason;
  if (!file.ReadAt(head, headLength, 0, &reason))
    return HeaderFailure(ImageError::kReadFailed, reason);
  Layout layout;
  return HeaderOf(CheckHeaders(head, headLength, file.size(), limits, &layout), layout);
}
