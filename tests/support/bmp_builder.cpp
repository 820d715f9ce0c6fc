#include "tests/support/bmp_builder.h"
#include "tests/support/engine_fixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace bmptest {

COLORREF PatternColour(int x, int y) {
  return RGB(BYTE(x * 37 + y * 11 + 5), BYTE(x * 13 + y * 71 + 90), BYTE((x ^ (y * 3)) * 7 + 200));
}

RgbImage PatternImage(int w, int h) { return MakeImage(w, h, PatternColour); }

RgbImage RandomImage(int w, int h, unsigned seed) {
  RgbImage image;
  image.width = w;
  image.height = h;
  image.rgb.resize(std::size_t(w) * std::size_t(h) * 3);
  std::mt19937 random(seed);
  for (std::uint8_t& b : image.rgb) b = std::uint8_t(random() & 0xFF);
  return image;
}

namespace {
void Put16(std::vector<std::uint8_t>* f, std::size_t at, std::uint32_t v) {
  (*f)[at] = std::uint8_t(v);
  (*f)[at + 1] = std::uint8_t(v >> 8);
}
}  // namespace

void Write32(std::vector<std::uint8_t>* f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*f)[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
std::uint32_t Read32(const std::vector<std::uint8_t>& f, std::size_t at) {
  return std::uint32_t(f[at]) | std::uint32_t(f[at + 1]) << 8 | std::uint32_t(f[at + 2]) << 16 |
         std::uint32_t(f[at + 3]) << 24;
}
std::uint16_t Read16(const std::vector<std::uint8_t>& f, std::size_t at) {
  return std::uint16_t(f[at] | f[at + 1] << 8);
}

std::vector<std::uint8_t> BmpFile::Bytes() const {
  const int w = picture.width, h = picture.height;
  const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
  // Room for the whole info header when its size is plausible, else for the 40
  // bytes every file has (the size field still says infoSize).
  const std::size_t headers = 14 + std::size_t(infoSize >= 40 && infoSize <= 4096 ? infoSize : 40);
  const std::size_t rowsAt = headers + gap;
  std::vector<std::uint8_t> f(rowsAt + stride * std::size_t(h) + trailing, fillByte);
  for (std::size_t i = 0; i < 54; ++i) f[i] = 0;
  f[0] = signature[0];
  f[1] = signature[1];
  Write32(&f, 6, reserved);
  Write32(&f, 10, offBits ? *offBits : std::uint32_t(14 + infoSize + gap));
  Write32(&f, 14, infoSize);
  Write32(&f, 18, std::uint32_t(biWidth ? *biWidth : w));
  Write32(&f, 22, std::uint32_t(biHeight ? *biHeight : (topDown ? -h : h)));
  Put16(&f, 26, planes);
  Put16(&f, 28, bitCount);
  Write32(&f, 30, compression);
  Write32(&f, 34, sizeImage);
  Write32(&f, 46, clrUsed);
  for (int stored = 0; stored < h; ++stored) {
    const int y = topDown ? stored : h - 1 - stored;
    std::uint8_t* row = &f[rowsAt + std::size_t(stored) * stride];
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = &picture.rgb[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3];
      row[x * 3 + 0] = p[2];
      row[x * 3 + 1] = p[1];
      row[x * 3 + 2] = p[0];
    }
    for (std::size_t b = std::size_t(w) * 3; b < stride; ++b) row[b] = paddingByte;
  }
  for (std::size_t i = 0; i < trailing; ++i)
    f[rowsAt + stride * std::size_t(h) + i] = std::uint8_t(0xC0 + i);
  if (length) f.resize(*length, 0);
  if (f.size() >= 6) {
    const std::int64_t size = std::int64_t(bfSize ? *bfSize : std::uint32_t(f.size())) + bfSizeDelta;
    Write32(&f, 2, std::uint32_t(size));
  }
  return f;
}

BmpFile PatternFile(int w, int h) {
  BmpFile file;
  file.picture = PatternImage(w, h);
  return file;
}

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "ruvanta-bmp-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary folder";
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

std::string CompareImages(const RgbImage& want, const RgbImage& got) {
  std::ostringstream out;
  if (want.width != got.width || want.height != got.height) {
    out << "size " << got.width << " x " << got.height << ", expected " << want.width << " x "
        << want.height;
    return out.str();
  }
  if (got.rgb.size() != want.rgb.size()) {
    out << got.rgb.size() << " pixel bytes, expected " << want.rgb.size();
    return out.str();
  }
  int wrong = 0;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x)
      if (want.Pixel(x, y) != got.Pixel(x, y) && ++wrong <= 4)
        out << "(" << x << ", " << y << ") is " << std::hex << got.Pixel(x, y) << ", expected "
            << want.Pixel(x, y) << std::dec << "; ";
  if (wrong > 0) out << wrong << " pixels differ";
  return out.str();
}

}  // namespace bmptest
