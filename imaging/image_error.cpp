#include "imaging/image_error.h"

const char* ImageErrorName(ImageError error) {
  switch (error) {
    case ImageError::kNone:
      return "none";
    case ImageError::kCannotOpen:
      return "cannot open";
    case ImageError::kNotRegularFile:
      return "not a regular file";
    case ImageError::kReadFailed:
      return "read failed";
    case ImageError::kNotRecognised:
      return "not recognised";
    case ImageError::kMalformed:
      return "malformed";
    case ImageError::kUnsupported:
      return "unsupported";
    case ImageError::kTooLarge:
      return "too large";
    case ImageError::kOutOfMemory:
      return "out of memory";
  }
  return "unknown";
}

ImageReadResult ImageFailure(ImageError error, std::string reason) {
  ImageReadResult r;
  r.error = error;
  r.reason = std::move(reason);
  return r;
}

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kBmp:
      return "BMP";
    case ImageFormat::kPng:
      return "PNG";
    case ImageFormat::kJpeg:
      return "JPEG";
  }
  return "unknown";
}

ImageHeader HeaderFailure(ImageError error, std::string reason) {
  ImageHeader h;
  h.error = error;
  h.reason = std::move(reason);
  return h;
}

std::string CheckImageLimits(std::int64_t width, std::int64_t height, const ImageLimits& limits) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) return "image is " + size + "; both sides must be at least 1";
  if (width > limits.maxSide || height > limits.maxSide)
    return "image is " + size + "; the limit is " + std::to_string(limits.maxSide) +
           " pixels a side";
  // Both sides are at most maxSide (an int), so the product fits 64 bits.
  const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
  if (pixels > limits.maxPixels)
    return "image is " + size + " (" + std::to_string(pixels) + " pixels); the limit is " +
           std::to_string(limits.maxPixels) + " pixels";
  return std::string();
}
