// A picture file opened for reading, shared by every reader: only a regular file
// is read (a directory, a pipe or a device is refused before anything is read),
// opening never blocks, and every read checks that all the bytes asked for
// arrived, so a file that shrinks while it is read is an error, never a short
// picture.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/image_error.h"

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens `path`. On failure returns false and sets `error` (kCannotOpen,
  // kNotRegularFile) and `reason`.
  bool Open(const std::string& path, ImageError* error, std::string* reason);

  // The size fstat gave when the file was opened.
  std::uint64_t size() const { return size_; }

  // Reads exactly `length` bytes at `offset`; false with the reason otherwise.
  bool ReadAt(void* buffer, std::size_t length, std::uint64_t offset, std::string* reason) const;

  // Sequential reading from a position that starts at 0: reads up to `length`
  // bytes (fewer only at the end of the file as opened) and moves on. `*got` is 0
  // at the end. False with the reason on a read error.
  bool Read(void* buffer, std::size_t length, std::size_t* got, std::string* reason);
  std::uint64_t position() const { return position_; }
  // Sequential reading starts again at the beginning.
  void Rewind() { position_ = 0; }
  // Sequential reading goes on `count` bytes further without reading them.
  void Skip(std::uint64_t count) {
    position_ = count < size_ - std::min(position_, size_) ? position_ + count : size_;
  }
  // How many bytes all reads have taken from the file.
  std::uint64_t bytesRead() const { return bytesRead_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  mutable std::uint64_t bytesRead_ = 0;
};

// Opens `path` and gives the open file to `read(InputFile&)`; a file that cannot be
// opened is refused with the reason Open gave.
template <typename Read>
ImageReadResult ReadOpenedFile(const std::string& path, Read read) {
  InputFile file;
  ImageError error = ImageError::kNone;
  std::string reason;
  if (!file.Open(path, &error, &reason)) return ImageFailure(error, reason);
  return read(file);
}

// A byte as reasons show it: printable ASCII in quotes, anything else in hex.
std::string ByteText(std::uint8_t b);
// The first `count` bytes (at most `length`) as ByteText, separated by spaces.
std::string BytesText(const std::uint8_t* bytes, std::size_t length, std::size_t count);
