// What a reader reports: a typed error with a one-line reason a person can act on,
// and the size limits every reader checks on the header, before any pixel is
// decoded or any picture memory is allocated.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/rgb_image.h"

enum class ImageError {
  kNone,
  kCannotOpen,      // missing, not permitted
  kNotRegularFile,  // a directory, a pipe, a device
  kReadFailed,      // an input/output error, or the file changed while read
  kNotRecognised,   // not a file of the format (wrong signature)
  kMalformed,       // inconsistent headers, truncated or corrupt data
  kUnsupported,     // a valid file of a kind that is not read (32-bit BMP, CMYK JPEG)
  kTooLarge,        // beyond the size limits
  kOutOfMemory,
};

// A short name for logs and tests ("malformed", "too large", ...).
const char* ImageErrorName(ImageError error);

struct ImageReadResult {
  ImageError error = ImageError::kNone;
  std::string reason;  // empty when ok
  RgbImage image;      // set only when ok
  bool ok() const { return error == ImageError::kNone; }
};

ImageReadResult ImageFailure(ImageError error, std::string reason);

enum class ImageFormat { kBmp, kPng, kJpeg };
const char* ImageFormatName(ImageFormat format);  // "BMP", "PNG", "JPEG"

// What a picture file's header says, read without decoding any pixel: refused
// with the same error and reason as the whole reader gives for the same header,
// size limits included.
struct ImageHeader {
  ImageError error = ImageError::kNone;
  std::string reason;  // empty when ok
  ImageFormat format = ImageFormat::kBmp;
  int width = 0;
  int height = 0;
  // JPEG: the number of colour components, and the bytes of the coefficients the
  // decoder keeps for the whole picture until its last scan (progressive files,
  // and sequential files whose components come in separate scans); 0 when it
  // decodes as it reads.
  int components = 3;
  std::uint64_t coefficientBytes = 0;
  bool ok() const { return error == ImageError::kNone; }
};

ImageHeader HeaderFailure(ImageError error, std::string reason);

// The largest picture a reader accepts. The defaults are the window's and the
// command line's; the session passes the engine's limits.
struct ImageLimits {
  int maxSide = 16384;
  std::uint64_t maxPixels = std::uint64_t(64) << 20;  // 67,108,864
};

// Empty when a width x height picture is within the limits, else the reason
// ("image is 20000 x 300; the limit is 16384 pixels a side"). Sizes of 0 or less
// are refused too.
std::string CheckImageLimits(std::int64_t width, std::int64_t height, const ImageLimits& limits);
