// Where files are written: the system calls a save makes, behind one seam that
// tests replace to make a step fail, and the routines every writer uses to put a
// whole encoded file on disk (see imaging/atomic_file.h for how: a temporary file
// beside the target, synced, then moved into place in one step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Permission bits for CreateNew that mean "as for any new file": 0666 less the umask.
constexpr int kNewFilePermissions = -1;

// The steps of writing a file; tests replace it to make one fail part-way. Error
// texts say what failed without naming the file; the caller names it.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // Creates `path`, failing when anything exists under that name, with exactly the
  // permission bits `permissions` (0 to 0777), or kNewFilePermissions.
  virtual bool CreateNew(const std::string& path, int permissions, std::string* error) = 0;
  // Writes all bytes or fails.
  virtual bool Write(const void* data, std::size_t size, std::string* error) = 0;
  // Puts the bytes written so far on the disk (fsync).
  virtual bool Sync(std::string* error) = 0;
  virtual bool Close(std::string* error) = 0;
  virtual void Remove(const std::string& path) = 0;
  // Gives the closed file `from` the name `to` in one step, in the same folder.
  // With `replace` a file under `to` is replaced; without, a file under `to` is
  // never touched and the move fails with an error that says it already exists.
  virtual bool Move(const std::string& from, const std::string& to, bool replace,
                    std::string* error) = 0;
  // Puts a move into `folder` on the disk; a file system that cannot is no error.
  virtual void SyncFolder(const std::string& folder) = 0;
};

// Files on disk: created with O_CREAT | O_EXCL, written in a loop over short
// writes, fsync and close checked. Holds one open file between CreateNew and Close.
// A move without replacing uses renameat2 with RENAME_NOREPLACE, or where the file
// system lacks it a hard link and then an unlink of the old name; where neither
// works it fails rather than risk an existing file.
class PosixFileSink : public FileSink {
 public:
  PosixFileSink() = default;
  PosixFileSink(const PosixFileSink&) = delete;
  PosixFileSink& operator=(const PosixFileSink&) = delete;
  ~PosixFileSink() override;
  bool CreateNew(const std::string& path, int permissions, std::string* error) override;
  bool Write(const void* data, std::size_t size, std::string* error) override;
  bool Sync(std::string* error) override;
  bool Close(std::string* error) override;
  void Remove(const std::string& path) override;
  bool Move(const std::string& from, const std::string& to, bool replace,
            std::string* error) override;
  void SyncFolder(const std::string& folder) override;

 protected:
  // The two ways of moving without replacing, 0 or an errno value; tests replace
  // them to play a file system that lacks one or both.
  virtual int RenameNoReplace(const std::string& from, const std::string& to);
  virtual int HardLink(const std::string& from, const std::string& to);

 private:
  int fd_ = -1;
  std::string path_;
};
// The sink the writers use unless told otherwise (a PosixFileSink, one per thread).
FileSink& DefaultFileSink();

struct SaveResult {
  bool ok = false;
  std::string reason;
};

// Writes `bytes` as a new file `fileName`: the whole file appears under that name
// or nothing does, and an existing file is never replaced (see WriteWholeFile).
SaveResult WriteNewFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes,
                        FileSink& sink = DefaultFileSink());
// The same for a file assembled from parts, each written whole and in order.
SaveResult WriteNewFile(const std::string& fileName,
                        const std::vector<std::pair<const void*, std::size_t>>& parts,
                        FileSink& sink = DefaultFileSink());
