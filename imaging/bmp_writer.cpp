// Writer of 24-bit BMP files, and the POSIX file sink that SaveBmp writes through.
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

bool EncodeBmp(const ImageSurface& surface, std::vector<std::uint8_t>* file, std::string* reason) {
  const int w = surface.nWidth, h = surface.nHeight;
  if (w < 0 || h < 0) {
    *reason = "the surface claims a size of " + Size(w, h);
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
  // Info header; the resolution and colour-count fields stay 0.
  BITMAPINFO info;
  info.bmiHeader.biSize = kInfoHeaderSize;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = std::uint32_t(sizeImage);
  std::uint8_t* ih = f + kFileHeaderSize;
  Put32(ih + 0, info.bmiHeader.biSize);
  Put32(ih + 4, std::uint32_t(info.bmiHeader.biWidth));
  Put32(ih + 8, std::uint32_t(info.bmiHeader.biHeight));
  Put16(ih + 12, info.bmiHeader.biPlanes);
  Put16(ih + 14, info.bmiHeader.biBitCount);
  Put32(ih + 16, info.bmiHeader.biCompression);
  Put32(ih + 20, info.bmiHeader.biSizeImage);
  // An image without pixels is the two headers (and, for a zero width or height,
  // the zero bytes the size formula gives).
  if (w == 0 || h == 0) return true;
  // The rows, bottom row first, padded to 4 bytes; the rest of the block stays zero.
  const int copied = GetDIBits(surface.hMemDC.get(), surface.hBitmap.get(), 0, UINT(h),
                               f + kPixelOffset, &info, DIB_RGB_COLORS);
  if (copied != h) {
    file->clear();
    *reason = "the " + Size(w, h) + " surface gave " + std::to_string(copied) + " of its " +
              std::to_string(h) + " rows";
    return false;
  }
  return true;
}

std::vector<std::uint8_t> EncodeBmp(const ImageSurface& surface) {
  std::vector<std::uint8_t> file;
  std::string reason;
  if (!EncodeBmp(surface, &file, &reason)) file.clear();
  return file;
}

PosixFileSink::~PosixFileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool PosixFileSink::CreateNew(const std::string& path, std::string* error) {
  if (fd_ >= 0) {
    *error = "cannot create " + path + ": " + path_ + " is still open";
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int e = errno;
    if (e == EEXIST)
      *error = path + " already exists; an existing file is never overwritten";
    else
      *error = "cannot create " + path + ": " + std::strerror(e);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool PosixFileSink::Write(const void* data, std::size_t size, std::string* error) {
  if (fd_ < 0) {
    *error = "no file is open for writing";
    return false;
  }
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t chunk = std::min<std::size_t>(size - done, std::size_t(1) << 30);
    const ssize_t n = ::write(fd_, p + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = "writing " + path_ + " failed after " + std::to_string(done) + " of " +
               std::to_string(size) + " bytes: " + std::strerror(errno);
      return false;
    }
    if (n == 0) {
      *error = "writing " + path_ + " stopped after " + std::to_string(done) + " of " +
               std::to_string(size) + " bytes";
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

bool PosixFileSink::Close(std::string* error) {
  if (fd_ < 0) {
    *error = "no file is open";
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is released whatever close reports, so it is never retried.
  if (::close(fd) != 0) {
    *error = "closing " + path_ + " failed: " + std::strerror(errno);
    return false;
  }
  return true;
}

void PosixFileSink::Remove(const std::string& path) { ::unlink(path.c_str()); }

FileSink& DefaultFileSink() {
  // One per thread: a sink holds its open file between CreateNew and Close.
  thread_local PosixFileSink sink;
  return sink;
}

SaveResult SaveBmp(const std::string& fileName, const ImageSurface& surface, FileSink& sink) {
  SaveResult result;
  std::vector<std::uint8_t> file;
  if (!EncodeBmp(surface, &file, &result.reason)) {
    result.reason = "cannot save " + fileName + ": " + result.reason;
    return result;
  }
  std::string error;
  if (!sink.CreateNew(fileName, &error)) {
    // Nothing of ours exists under that name: in particular an existing file
    // is left exactly as it was.
    result.reason = error;
    return result;
  }
  // File header, info header and pixel block, each written whole.
  const std::size_t parts[3][2] = {{0, kFileHeaderSize},
                                   {kFileHeaderSize, kInfoHeaderSize},
                                   {kPixelOffset, file.size() - kPixelOffset}};
  for (const auto& part : parts) {
    if (part[1] == 0) continue;
    if (!sink.Write(file.data() + part[0], part[1], &error)) {
      std::string ignored;
      sink.Close(&ignored);
      sink.Remove(fileName);
      result.reason = error + "; the partial file " + fileName + " was removed";
      return result;
    }
  }
  if (!sink.Close(&error)) {
    sink.Remove(fileName);
    result.reason = error + "; the file " + fileName + " was removed";
    return result;
  }
  result.ok = true;
  return result;
}
