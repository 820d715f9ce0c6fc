// The picture file opened for reading.
#include "imaging/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string N(std::uint64_t v) { return std::to_string(v); }
std::string ErrnoText(int error) { return std::strerror(error); }

// One read call is at most 1 GiB, well inside what read() takes at once.
constexpr std::size_t kMaxChunk = std::size_t(1) << 30;

}  // namespace

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::Open(const std::string& path, ImageError* error, std::string* reason) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  size_ = 0;
  position_ = 0;
  bytesRead_ = 0;
  // Non-blocking only so that opening a pipe by mistake does not hang; regular
  // files ignore the flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = ImageError::kCannotOpen;
    *reason = "cannot be opened: " + ErrnoText(errno);
    return false;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int e = errno;
    ::close(fd);
    *error = ImageError::kCannotOpen;
    *reason = "cannot be examined: " + ErrnoText(e);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    *error = ImageError::kNotRegularFile;
    *reason = S_ISDIR(info.st_mode) ? "is a directory, not a file" : "is not a regular file";
    return false;
  }
  fd_ = fd;
  size_ = std::uint64_t(info.st_size);
  return true;
}

bool InputFile::ReadAt(void* buffer, std::size_t length, std::uint64_t offset,
                       std::string* reason) const {
  std::uint8_t* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    const std::size_t chunk = std::min(length - done, kMaxChunk);
    const ssize_t n = ::pread(fd_, out + done, chunk, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = "read failed at offset " + N(offset + done) + ": " + ErrnoText(errno);
      return false;
    }
    if (n == 0) {
      *reason = "file ended at offset " + N(offset + done) + " while " + N(offset + length) +
                " bytes were expected (it changed while read?)";
      return false;
    }
    done += std::size_t(n);
    bytesRead_ += std::uint64_t(n);
  }
  return true;
}

bool InputFile::Read(void* buffer, std::size_t length, std::size_t* got, std::string* reason) {
  *got = 0;
  const std::uint64_t left = position_ < size_ ? size_ - position_ : 0;
  const std::size_t want = std::size_t(std::min<std::uint64_t>(length, left));
  if (want == 0) return true;
  if (!ReadAt(buffer, want, position_, reason)) return false;
  position_ += want;
  *got = want;
  return true;
}

std::string ByteText(std::uint8_t b) {
  if (b >= 0x20 && b < 0x7F) return std::string("'") + char(b) + "'";
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[b >> 4] + kHex[b & 15];
}

std::string BytesText(const std::uint8_t* bytes, std::size_t length, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < std::min(length, count); ++i) {
    if (i > 0) text += ' ';
    text += ByteText(bytes[i]);
  }
  return text;
}
