// The choice of reader by the first bytes. The file is opened once, here, and the
// chosen reader goes on with the same open file.
#include "imaging/image_reader.h"

#include <algorithm>
#include <cstring>

#include "imaging/bmp_reader.h"
#include "imaging/input_file.h"
#include "imaging/jpeg_reader.h"
#include "imaging/png_codec.h"

namespace {

enum class Format { kUnknown, kBmp, kPng, kJpeg };

constexpr std::size_t kSniffBytes = 8;

Format FormatOf(const std::uint8_t* head, std::size_t length) {
  static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  static const std::uint8_t kJpeg[3] = {0xFF, 0xD8, 0xFF};
  if (length >= 2 && head[0] == 'B' && head[1] == 'M') return Format::kBmp;
  if (length >= sizeof kPng && std::memcmp(head, kPng, sizeof kPng) == 0) return Format::kPng;
  if (length >= sizeof kJpeg && std::memcmp(head, kJpeg, sizeof kJpeg) == 0) return Format::kJpeg;
  return Format::kUnknown;
}

ImageReadResult NotRecognised(const std::uint8_t* head, std::size_t length) {
  if (length == 0)
    return ImageFailure(ImageError::kNotRecognised, "not a BMP, PNG or JPEG file: it is empty");
  return ImageFailure(ImageError::kNotRecognised,
                      "not a BMP, PNG or JPEG file: it starts with " + BytesText(head, length, 4));
}

ImageHeader HeaderRefusal(const ImageReadResult& refusal) {
  return HeaderFailure(refusal.error, refusal.reason);
}

// The first bytes of an open file and its format; false with the reason when
// they cannot be read.
bool Sniff(InputFile& file, std::uint8_t* head, std::size_t* length, std::string* reason) {
  *length = std::size_t(std::min<std::uint64_t>(file.size(), kSniffBytes));
  return file.ReadAt(head, *length, 0, reason);
}

}  // namespace

ImageReadResult ReadImageFile(const std::string& path, const ImageLimits& limits) {
  return ReadOpenedFile(path, [&](InputFile& file) {
    std::uint8_t head[kSniffBytes];
    std::size_t length = 0;
    std::string reason;
    if (!Sniff(file, head, &length, &reason)) return ImageFailure(ImageError::kReadFailed, reason);
    switch (FormatOf(head, length)) {
      case Format::kBmp:
        return ReadBmp(file, limits);
      case Format::kPng:
        return ReadPng(file, limits);
      case Format::kJpeg:
        return ReadJpeg(file, limits);
      case Format::kUnknown:
        break;
    }
    return NotRecognised(head, length);
  });
}

ImageReadResult DecodeImage(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  switch (FormatOf(data, size)) {
    case Format::kBmp:
      return DecodeBmp(data, size, limits);
    case Format::kPng:
      return DecodePng(data, size, limits);
    case Format::kJpeg:
      return DecodeJpeg(data, size, limits);
    case Format::kUnknown:
      break;
  }
  return NotRecognised(data, size);
}

ImageHeader ReadImageHeader(InputFile& file, const ImageLimits& limits) {
  std::uint8_t head[kSniffBytes];
  std::size_t length = 0;
  std::string reason;
  if (!Sniff(file, head, &length, &reason)) return HeaderFailure(ImageError::kReadFailed, reason);
  switch (FormatOf(head, length)) {
    case Format::kBmp:
      return ReadBmpHeader(file, limits);
    case Format::kPng:
      return ReadPngHeader(file, limits);
    case Format::kJpeg:
      return ReadJpegHeader(file, limits);
    case Format::kUnknown:
      break;
  }
  return HeaderRefusal(NotRecognised(head, length));
}

ImageHeader ReadImageHeader(const std::string& path, const ImageLimits& limits) {
  InputFile file;
  ImageError error = ImageError::kNone;
  std::string reason;
  if (!file.Open(path, &error, &reason)) return HeaderFailure(error, reason);
  return ReadImageHeader(file, limits);
}

ImageHeader DecodeImageHeader(const std::uint8_t* data, std::size_t size,
                              const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  switch (FormatOf(data, size)) {
    case Format::kBmp:
      return DecodeBmpHeader(data, size, limits);
    case Format::kPng:
      return DecodePngHeader(data, size, limits);
    case Format::kJpeg:
      return DecodeJpegHeader(data, size, limits);
    case Format::kUnknown:
      break;
  }
  return HeaderRefusal(NotRecognised(data, size));
}
