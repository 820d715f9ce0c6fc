// Writer of 24-bit BMP files. Layout: 14-byte file header, 40-byte info header,
// then biSizeImage = h x (w + 1) x 3 bytes: the h rows bottom-up, blue-green-red,
// each padded to 4 bytes, followed by zero filler up to biSizeImage.
// A file is only ever created new; a failed or partial write leaves no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/surface.h"

// The whole file for a surface (of any size, 0 x 0 included).
std::vector<std::uint8_t> EncodeBmp(const ImageSurface& surface);

// Where files are created; tests replace it to make a write fail part-way.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // Creates `path`, failing when it exists. On failure `error` says why.
  virtual bool CreateNew(const std::string& path, std::string* error) = 0;
  // Writes all bytes or fails.
  virtual bool Write(const void* data, std::size_t size, std::string* error) = 0;
  virtual bool Close(std::string* error) = 0;
  virtual void Remove(const std::string& path) = 0;
};
FileSink& DefaultFileSink();

struct SaveResult {
  bool ok = false;
  std::string reason;
};

// Creates `fileName` (never overwriting) and writes the surface into it.
SaveResult SaveBmp(const std::string& fileName, const ImageSurface& surface,
                   FileSink& sink = DefaultFileSink());
