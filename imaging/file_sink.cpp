// The POSIX file sink and the routine that writes a whole file through a sink.
#include "imaging/file_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

SaveResult WriteNewFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes,
                        FileSink& sink) {
  return WriteNewFile(fileName, {{bytes.data(), bytes.size()}}, sink);
}

SaveResult WriteNewFile(const std::string& fileName,
                        const std::vector<std::pair<const void*, std::size_t>>& parts,
                        FileSink& sink) {
  SaveResult result;
  std::string error;
  if (!sink.CreateNew(fileName, &error)) {
    // Nothing of ours exists under that name: in particular an existing file
    // is left exactly as it was.
    result.reason = error;
    return result;
  }
  for (const auto& part : parts) {
    if (part.second == 0) continue;
    if (!sink.Write(part.first, part.second, &error)) {
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
