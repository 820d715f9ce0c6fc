// Where files are written: a sink that only ever creates new files, and the one
// routine every writer uses to put a whole encoded file on disk, so that a failed
// or partial write never leaves a file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// Creates `fileName` (never overwriting) and writes `bytes` into it; on any
// failure nothing of ours is left under that name.
SaveResult WriteNewFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes,
                        FileSink& sink = DefaultFileSink());
// The same for a file assembled from parts, each written whole and in order.
SaveResult WriteNewFile(const std::string& fileName,
                        const std::vector<std::pair<const void*, std::size_t>>& parts,
                        FileSink& sink = DefaultFileSink());
