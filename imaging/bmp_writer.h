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
// Empty when the surface cannot be encoded (see the overload below for why).
std::vector<std::uint8_t> EncodeBmp(const ImageSurface& surface);
// The same, reporting why a surface cannot be encoded: a negative size, a file
// beyond the 32-bit size fields, too little memory, or a bitmap that does not
// hold the surface's rows.
bool EncodeBmp(const ImageSurface& surface, std::vector<std::uint8_t>* file, std::string* reason);

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

// Files on disk: created with O_CREAT | O_EXCL, written in a loop over short
// writes, close checked. Holds one open file between CreateNew and Close.
class PosixFileSink : public FileSink {
 public:
  PosixFileSink() = default;
  PosixFileSink(const PosixFileSink&) = delete;
  PosixFileSink& operator=(const PosixFileSink&) = delete;
  ~PosixFileSink() override;
  bool CreateNew(const std::string& path, std::string* error) override;
  bool Write(const void* data, std::size_t size, std::string* error) override;
  bool Close(std::string* error) override;
  void Remove(const std::string& path) override;

 private:
  int fd_ = -1;
  std::string path_;
};
// The sink SaveBmp uses unless told otherwise (a PosixFileSink, one per thread).
FileSink& DefaultFileSink();

struct SaveResult {
  bool ok = false;
  std::string reason;
};

// Creates `fileName` (never overwriting) and writes the surface into it.
SaveResult SaveBmp(const std::string& fileName, const ImageSurface& surface,
                   FileSink& sink = DefaultFileSink());
