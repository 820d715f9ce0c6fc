#include "tests/support/bmp_builder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "tests/support/engine_fixture.h"

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
    const std::int64_t size =
        std::int64_t(bfSize ? *bfSize : std::uint32_t(f.size())) + bfSizeDelta;
    Write32(&f, 2, std::uint32_t(size));
  }
  return f;
}

BmpFile PatternFile(int w, int h) {
  BmpFile file;
  file.picture = PatternImage(w, h);
  return file;
}

}  // namespace bmptest
