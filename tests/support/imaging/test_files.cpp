#include "tests/support/imaging/test_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "imaging/atomic_file.h"

namespace imagetest {

RgbImage PatternImage(int w, int h) {
  RgbImage image;
  image.width = w;
  image.height = h;
  image.rgb.resize(std::size_t(w) * std::size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[0] = std::uint8_t(x * 29 + y * 7);
      p[1] = std::uint8_t(x * 3 + y * 53 + 17);
      p[2] = std::uint8_t((x ^ y) * 5 + 101);
    }
  return image;
}

RgbImage RandomImage(int w, int h, unsigned seed) {
  std::mt19937 random(seed);
  RgbImage image;
  image.width = w;
  image.height = h;
  image.rgb.resize(std::size_t(w) * std::size_t(h) * 3);
  for (std::uint8_t& b : image.rgb) b = std::uint8_t(random() >> 24);
  return image;
}

RgbImage SmoothImage(int w, int h) {
  RgbImage image;
  image.width = w;
  image.height = h;
  image.rgb.resize(std::size_t(w) * std::size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[0] = std::uint8_t(40 + 170 * x / std::max(1, w - 1));
      p[1] = std::uint8_t(220 - 180 * y / std::max(1, h - 1));
      p[2] = std::uint8_t(60 + 60 * (x + y) / std::max(1, w + h - 2));
    }
  return image;
}

std::string CompareImages(const RgbImage& want, const RgbImage& got) {
  std::ostringstream out;
  if (want.width != got.width || want.height != got.height) {
    out << "size " << got.width << " x " << got.height << " instead of " << want.width << " x "
        << want.height;
    return out.str();
  }
  if (got.rgb.size() != want.rgb.size()) {
    out << got.rgb.size() << " bytes of pixels instead of " << want.rgb.size();
    return out.str();
  }
  int shown = 0, wrong = 0;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x)
      if (want.Pixel(x, y) != got.Pixel(x, y)) {
        ++wrong;
        if (shown++ < 3)
          out << "pixel (" << x << ", " << y << ") is " << std::hex << got.Pixel(x, y)
              << " instead of " << want.Pixel(x, y) << std::dec << "; ";
      }
  if (wrong > 0) out << wrong << " pixels differ";
  return out.str();
}

int MaxDifference(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
  int most = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i)
    most = std::max(most, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
  return most;
}

double MeanDifference(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
  if (a.rgb.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return sum / double(a.rgb.size());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ruvanta-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create " << pattern;
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool FailingSink::CreateNew(const std::string& path, int permissions, std::string* error) {
  created.push_back(path);
  return disk_.CreateNew(path, permissions, error);
}

bool FailingSink::Write(const void* data, std::size_t size, std::string* error) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (++writes == failWrite) {
    std::string ignored;
    disk_.Write(data, size / 2, &ignored);
    written.insert(written.end(), bytes, bytes + size / 2);
    *error = "disk full after " + std::to_string(size / 2) + " bytes";
    return false;
  }
  written.insert(written.end(), bytes, bytes + size);
  return disk_.Write(data, size, error);
}

bool FailingSink::Sync(std::string* error) {
  if (failSync) {
    *error = "sync failed";
    return false;
  }
  return disk_.Sync(error);
}

bool FailingSink::Close(std::string* error) {
  const bool closed = disk_.Close(error);
  if (failClose) {
    *error = "close failed";
    return false;
  }
  return closed;
}

void FailingSink::Remove(const std::string& path) {
  removed.push_back(path);
  disk_.Remove(path);
}

bool FailingSink::Move(const std::string& from, const std::string& to, bool replace,
                       std::string* error) {
  if (beforeMove) beforeMove();
  if (failMove) {
    *error = "move failed";
    return false;
  }
  return disk_.Move(from, to, replace, error);
}

void FailingSink::SyncFolder(const std::string& folder) { disk_.SyncFolder(folder); }

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> PartialFiles(const std::string& folder) {
  std::vector<std::string> partial;
  for (const std::string& name : Listing(folder))
    if (IsPartialFileName(name)) partial.push_back(name);
  return partial;
}

}  // namespace imagetest
