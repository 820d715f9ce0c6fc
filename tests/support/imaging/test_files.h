// Helpers for the tests of the file layer: pictures to encode, files on disk, a
// file sink that fails part-way, and a probe of the program's largest allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/file_sink.h"
#include "imaging/rgb_image.h"

namespace imagetest {

// A w x h picture whose every channel differs between neighbours, so a swapped
// channel, a mirrored row or a shifted column shows.
RgbImage PatternImage(int w, int h);
// A w x h picture of pseudo-random colours drawn from `seed`.
RgbImage RandomImage(int w, int h, unsigned seed);
// A w x h picture that changes slowly (a lossy encoder keeps it close).
RgbImage SmoothImage(int w, int h);
// Differences between two pictures, as text ("" when they are equal).
std::string CompareImages(const RgbImage& want, const RgbImage& got);
// The largest difference of one channel between two pictures of the same size,
// and the mean of all the channels' differences; -1 when the sizes differ.
int MaxDifference(const RgbImage& a, const RgbImage& b);
double MeanDifference(const RgbImage& a, const RgbImage& b);

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `bytes` to `path` (replacing it); fails the current test on error.
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// Writes through to disk, but fails the write numbered `failWrite` (from 1) after
// passing on half of its bytes, or fails Sync, Close or Move; runs `beforeMove`
// just before the move (a test makes a file appear there); records what it was
// asked to do.
class FailingSink : public FileSink {
 public:
  int failWrite = 0;
  bool failSync = false;
  bool failClose = false;
  bool failMove = false;
  std::function<void()> beforeMove;
  int writes = 0;
  std::vector<std::string> created;
  std::vector<std::string> removed;
  std::vector<std::uint8_t> written;  // the bytes it passed on to the disk

  bool CreateNew(const std::string& path, int permissions, std::string* error) override;
  bool Write(const void* data, std::size_t size, std::string* error) override;
  bool Sync(std::string* error) override;
  bool Close(std::string* error) override;
  void Remove(const std::string& path) override;
  bool Move(const std::string& from, const std::string& to, bool replace,
            std::string* error) override;
  void SyncFolder(const std::string& folder) override;

 private:
  PosixFileSink disk_;
};

// The names in `folder`, sorted.
std::vector<std::string> Listing(const std::string& folder);
// The temporary files of saves in `folder`.
std::vector<std::string> PartialFiles(const std::string& folder);

// The largest single request to operator new since the last reset, and a ceiling
// above which operator new throws std::bad_alloc as if memory had run out (0: no
// ceiling). The probe replaces the program's global operator new.
void ResetLargestAllocation();
std::size_t LargestAllocation();
void SetAllocationCeiling(std::size_t bytes);

}  // namespace imagetest
