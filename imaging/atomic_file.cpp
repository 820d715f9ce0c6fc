// Files written whole or not at all.
#include "imaging/atomic_file.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace {

constexpr std::size_t kRandomChars = 6;
constexpr int kMaxLinks = 40;  // as the kernel follows
constexpr int kNameAttempts = 20;

std::string ErrnoText(int error) { return std::strerror(error); }

// "a/b/c.png" -> "a/b/", "c.png" -> "", "/c.png" -> "/".
std::string FolderPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint64_t Seed() {
  std::uint64_t seed = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  seed ^= std::uint64_t(::getpid()) << 32;
  try {
    std::random_device device;
    seed ^= std::uint64_t(device()) << 16 ^ device();
  } catch (...) {
    // The clock and the process id alone; a taken name is tried again anyway.
  }
  return seed;
}

std::string RandomChars() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random(Seed());
  std::string s(kRandomChars, 'x');
  for (char& c : s) c = kChars[random() % (sizeof kChars - 1)];
  return s;
}

// ".NAME.ruvanta-partial-XXXXXX", NAME shortened (at a character boundary) so
// that the whole stays within the longest name a folder takes.
std::string PartialName(std::string name) {
  const std::size_t fixed = 1 + std::strlen(kPartialMark) + kRandomChars;
  const std::size_t room = NAME_MAX > fixed ? NAME_MAX - fixed : 0;
  if (name.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "." + name + kPartialMark + RandomChars();
}

// Follows `path` while it is a symbolic link. `*exists` says whether a file is at
// the end, `*info` what it is.
bool FollowLinks(const std::string& path, std::string* target, struct stat* info, bool* exists,
                 std::string* error) {
  std::string p = path;
  for (int hop = 0;; ++hop) {
    if (::lstat(p.c_str(), info) != 0) {
      if (errno != ENOENT) {
        *error = "cannot create " + path + ": " + ErrnoText(errno);
        return false;
      }
      *exists = false;
      *target = p;
      return true;
    }
    if (!S_ISLNK(info->st_mode)) {
      *exists = true;
      *target = p;
      return true;
    }
    if (hop == kMaxLinks) {
      *error = "cannot follow the link " + path + ": " + ErrnoText(ELOOP);
      return false;
    }
    std::string link(std::size_t(info->st_size > 0 ? info->st_size : PATH_MAX) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n < 0 || std::size_t(n) >= link.size()) {
      *error = "cannot follow the link " + path + ": " +
               (n < 0 ? ErrnoText(errno) : std::string("it changed while read"));
      return false;
    }
    link.resize(std::size_t(n));
    p = !link.empty() && link[0] == '/' ? link : FolderPart(p) + link;
  }
}

}  // namespace

bool AtomicFile::Begin(const std::string& path, Existing existing, std::string* error) {
  Abandon();
  const std::string name = NamePart(path);
  if (name.empty() || name == "." || name == "..") {
    *error = path.empty() ? std::string("no file name was given")
                          : "\"" + path + "\" names a folder, not a file";
    return false;
  }
  int permissions = kNewFilePermissions;
  std::string target = path;
  if (existing == Existing::kKeep) {
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0) {
      *error = path + " already exists; an existing file is never overwritten";
      return false;
    }
    if (errno != ENOENT) {
      *error = "cannot create " + path + ": " + ErrnoText(errno);
      return false;
    }
  } else {
    struct stat info;
    bool exists = false;
    if (!FollowLinks(path, &target, &info, &exists, error)) return false;
    if (exists && S_ISDIR(info.st_mode)) {
      *error = path + " is a folder, not a file; it is not replaced";
      return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
      *error = path + " is not a regular file; it is not replaced";
      return false;
    }
    if (exists) permissions = int(info.st_mode & 0777);
  }

  m_path = path;
  m_target = target;
  m_folder = FolderPart(target);
  m_replace = existing == Existing::kReplace;
  for (int attempt = 1;; ++attempt) {
    const std::string partial = m_folder + PartialName(NamePart(target));
    std::string why;
    if (m_sink.CreateNew(partial, permissions, &why)) {
      m_partial = partial;
      m_open = true;
      return true;
    }
    // Another save drew the same name: draw again.
    struct stat info;
    if (attempt < kNameAttempts && ::lstat(partial.c_str(), &info) == 0) continue;
    *error = "cannot create " + path + ": " + why;
    return false;
  }
}

bool AtomicFile::Write(const void* data, std::size_t size, std::string* error) {
  if (!m_open) {
    *error =
        "cannot write " + (m_path.empty() ? std::string("a file") : m_path) + ": it is not open";
    return false;
  }
  if (size == 0) return true;
  std::string why;
  if (m_sink.Write(data, size, &why)) return true;
  *error = "cannot write " + m_path + ": " + why;
  Fail(error);
  return false;
}

bool AtomicFile::Commit(std::string* error) {
  if (!m_open) {
    *error =
        "cannot write " + (m_path.empty() ? std::string("a file") : m_path) + ": it is not open";
    return false;
  }
  std::string why;
  if (!m_sink.Sync(&why)) {
    *error = "cannot write " + m_path + ": " + why;
    Fail(error);
    return false;
  }
  m_open = false;
  if (!m_sink.Close(&why)) {
    *error = "cannot write " + m_path + ": " + why;
    Fail(error);
    return false;
  }
  if (!m_sink.Move(m_partial, m_target, m_replace, &why)) {
    *error = "cannot put " + m_path + " in place: " + why;
    Fail(error);
    return false;
  }
  m_partial.clear();
  m_sink.SyncFolder(m_folder);
  return true;
}

void AtomicFile::Abandon() {
  if (m_open) {
    std::string ignored;
    m_sink.Close(&ignored);
    m_open = false;
  }
  if (!m_partial.empty()) {
    m_sink.Remove(m_partial);
    m_partial.clear();
  }
}

void AtomicFile::Fail(std::string* error) {
  Abandon();
  *error += "; nothing under that name was changed";
}

SaveResult WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                          Existing existing, FileSink& sink) {
  return WriteWholeFile(path, {{bytes.data(), bytes.size()}}, existing, sink);
}

SaveResult WriteWholeFile(const std::string& path,
                          const std::vector<std::pair<const void*, std::size_t>>& parts,
                          Existing existing, FileSink& sink) {
  SaveResult result;
  AtomicFile file(sink);
  if (!file.Begin(path, existing, &result.reason)) return result;
  for (const auto& part : parts)
    if (!file.Write(part.first, part.second, &result.reason)) return result;
  result.ok = file.Commit(&result.reason);
  return result;
}

bool IsPartialFileName(const std::string& name) {
  const std::size_t mark = std::strlen(kPartialMark);
  if (name.size() < 1 + mark + kRandomChars || name[0] != '.') return false;
  return name.compare(name.size() - kRandomChars - mark, mark, kPartialMark) == 0;
}

bool IsPartialFileOf(const std::string& partial, const std::string& name) {
  if (!IsPartialFileName(partial)) return false;
  const std::string stem =
      partial.substr(1, partial.size() - 1 - std::strlen(kPartialMark) - kRandomChars);
  // A long name is shortened in its temporary file's name.
  return stem == name || (stem.size() < name.size() && name.compare(0, stem.size(), stem) == 0 &&
                          partial.size() >= NAME_MAX - 3);
}
