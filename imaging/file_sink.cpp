// The POSIX file sink.
#include "imaging/file_sink.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/atomic_file.h"

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

constexpr const char* kExists =
    "a file of that name already exists; an existing file is never overwritten";

// The file system, not the call, refuses a rename that must not replace.
bool NoRenameNoReplace(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}
bool NoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

}  // namespace

PosixFileSink::~PosixFileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool PosixFileSink::CreateNew(const std::string& path, int permissions, std::string* error) {
  if (fd_ >= 0) {
    *error = path_ + " is still open";
    return false;
  }
  const bool exact = permissions != kNewFilePermissions;
  const mode_t mode = exact ? mode_t(permissions & 0777) : mode_t(0666);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    const int e = errno;
    *error = e == EEXIST ? std::string(kExists) : ErrnoText(e);
    return false;
  }
  // The umask may have taken bits away; the file is never more open than asked.
  if (exact && ::fchmod(fd, mode) != 0) {
    const int e = errno;
    ::close(fd);
    ::unlink(path.c_str());
    *error = "cannot set its permissions to " + std::to_string(mode >> 6) +
             std::to_string((mode >> 3) & 7) + std::to_string(mode & 7) + ": " + ErrnoText(e);
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
      *error = ErrnoText(errno) + " after " + std::to_string(done) + " of " + std::to_string(size) +
               " bytes";
      return false;
    }
    if (n == 0) {
      *error = "writing stopped after " + std::to_string(done) + " of " + std::to_string(size) +
               " bytes";
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

bool PosixFileSink::Sync(std::string* error) {
  if (fd_ < 0) {
    *error = "no file is open";
    return false;
  }
  while (::fsync(fd_) != 0) {
    if (errno == EINTR) continue;
    *error = "putting it on the disk (fsync) failed: " + ErrnoText(errno);
    return false;
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
    *error = "close failed: " + ErrnoText(errno);
    return false;
  }
  return true;
}

void PosixFileSink::Remove(const std::string& path) { ::unlink(path.c_str()); }

int PosixFileSink::RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                          : errno;
}

int PosixFileSink::HardLink(const std::string& from, const std::string& to) {
  return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool PosixFileSink::Move(const std::string& from, const std::string& to, bool replace,
                         std::string* error) {
  if (replace) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = ErrnoText(errno);
    return false;
  }
  const int renamed = RenameNoReplace(from, to);
  if (renamed == 0) return true;
  if (renamed == EEXIST) {
    *error = kExists;
    return false;
  }
  if (!NoRenameNoReplace(renamed)) {
    *error = ErrnoText(renamed);
    return false;
  }
  // A hard link is made only where no file is; the old name then goes.
  const int linked = HardLink(from, to);
  if (linked == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (linked == EEXIST) {
    *error = kExists;
    return false;
  }
  if (!NoHardLinks(linked)) {
    *error = ErrnoText(linked);
    return false;
  }
  *error = "the file system can neither rename without replacing (" + ErrnoText(renamed) +
           ") nor make a hard link (" + ErrnoText(linked) +
           "), so the file cannot be put in place without risking an existing one";
  return false;
}

void PosixFileSink::SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

FileSink& DefaultFileSink() {
  // One per thread: a sink holds its open file between CreateNew and Close.
  thread_local PosixFileSink sink;
  return sink;
}

SaveResult WriteNewFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes,
                        FileSink& sink) {
  return WriteWholeFile(fileName, {{bytes.data(), bytes.size()}}, Existing::kKeep, sink);
}

SaveResult WriteNewFile(const std::string& fileName,
                        const std::vector<std::pair<const void*, std::size_t>>& parts,
                        FileSink& sink) {
  return WriteWholeFile(fileName, parts, Existing::kKeep, sink);
}
