// Writer of 24-bit BMP files.
#include "imaging/bmp_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "imaging/pixel_rows.h"

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize;  // 54

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

std::string Size(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

}  // namespace

bool EncodeBmp(const RgbImage& picture, std::vector<std::uint8_t>* file, std::string* reason) {
  const int w = picture.width, h = picture.height;
  // A file without pixels would be refused by every reader, this one's included.
  if (w < 1 || h < 1) {
    *reason = "there is no picture to write (the image is " + Size(w, h) + ")";
    return false;
  }
  // biSizeImage = h x (w + 1) x 3 and the whole file must fit the 32-bit size fields.
  const std::uint64_t sizeImage = std::uint64_t(h) * (std::uint64_t(w) + 1) * 3;
  const std::uint64_t fileSize = kPixelOffset + sizeImage;
  if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
    *reason = "a " + Size(w, h) + " image needs a " + std::to_string(fileSize) +
              "-byte file; a BMP file holds at most 4294967295 bytes";
    return false;
  }
  const std::uint64_t pixelBytes = std::uint64_t(w) * std::uint64_t(h) * 3;
  if (picture.rgb.size() != pixelBytes) {
    *reason = "the " + Size(w, h) + " picture holds " + std::to_string(picture.rgb.size()) +
              " of its " + std::to_string(pixelBytes) + " pixel bytes";
    return false;
  }
  try {
    file->assign(std::size_t(fileSize), 0);
  } catch (const std::exception&) {
    *reason = "not enough memory to encode a " + Size(w, h) + " image (" +
              std::to_string(fileSize) + " bytes)";
    return false;
  }
  std::uint8_t* f = file->data();
  // File header.
  f[0] = 'B';
  f[1] = 'M';
  Put32(f + 2, std::uint32_t(fileSize));
  Put16(f + 6, 0);
  Put16(f + 8, 0);
  Put32(f + 10, kPixelOffset);
  // Info header: 24 bits, uncompressed, rows bottom-up (positive height); the
  // resolution and colour-count fields stay 0.
  std::uint8_t* ih = f + kFileHeaderSize;
  Put32(ih + 0, kInfoHeaderSize);
  Put32(ih + 4, std::uint32_t(w));
  Put32(ih + 8, std::uint32_t(h));
  Put16(ih + 12, 1);
  Put16(ih + 14, 24);
  Put32(ih + 16, 0);
  Put32(ih + 20, std::uint32_t(sizeImage));
  // The rows, bottom row first, blue-green-red, padded to 4 bytes; the rest of the
  // block stays zero.
  const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
  for (int stored = 0; stored < h; ++stored)
    SwapRedBlue(picture.At(0, h - 1 - stored), f + kPixelOffset + std::size_t(stored) * stride,
                std::size_t(w));
  return true;
}

std::vector<std::uint8_t> EncodeBmp(const RgbImage& picture) {
  std::vector<std::uint8_t> file;
  std::string reason;
  if (!EncodeBmp(picture, &file, &reason)) file.clear();
  return file;
}

SaveResult SaveBmp(const std::string& fileName, const RgbImage& picture, FileSink& sink) {
  std::vector<std::uint8_t> file;
  std::string reason;
  if (!EncodeBmp(picture, &file, &reason)) {
    SaveResult result;
    result.reason = "cannot save " + fileName + ": " + reason;
    return result;
  }
  // File header, info header and pixel block, each written whole.
  return WriteNewFile(fileName,
                      {{file.data(), kFileHeaderSize},
                       {file.data() + kFileHeaderSize, kInfoHeaderSize},
                       {file.data() + kPixelOffset, file.size() - kPixelOffset}},
                      sink);
}
