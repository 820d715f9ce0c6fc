// Test helpers for the BMP file tests: a builder of crafted 24-bit BMP files
// (every header field can be set to any value, rows can be cut short or followed
// by extra bytes), a colour pattern, and small file-system helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "tests/support/colour.h"
#include "tests/support/imaging/test_files.h"

namespace bmptest {

// A colour that differs from its neighbours in every channel, so a swapped
// channel, a mirrored row or a shifted column shows.
COLORREF PatternColour(int x, int y);
// A w x h picture of PatternColour.
RgbImage PatternImage(int w, int h);
// A w x h picture of pseudo-random colours drawn from `seed`.
RgbImage RandomImage(int w, int h, unsigned seed);

// A file that holds `picture`, with every header field open to change. Fields
// left unset take the values a well-formed file has.
struct BmpFile {
  RgbImage picture;
  bool topDown = false;  // store the top row first (negative biHeight)
  std::uint8_t signature[2] = {'B', 'M'};
  std::optional<std::uint32_t> bfSize;   // default: the length of the bytes built
  std::int64_t bfSizeDelta = 0;          // added to bfSize (default or given)
  std::uint32_t reserved = 0;            // both reserved words as one value
  std::uint32_t infoSize = 40;           // 40, 108, 124, ...; sizes outside 40..4096
                                         // are only declared (40 bytes are written)
  std::uint32_t gap = 0;                 // bytes between the info header and the rows
  std::optional<std::uint32_t> offBits;  // default: 14 + infoSize + gap
  std::optional<std::int32_t> biWidth;   // default: picture width
  std::optional<std::int32_t> biHeight;  // default: picture height, negated if topDown
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::uint32_t sizeImage = 0;
  std::uint32_t clrUsed = 0;
  std::uint8_t paddingByte = 0;       // fills the end of each row
  std::uint8_t fillByte = 0xA5;       // fills the gap and the header beyond 40 bytes
  std::size_t trailing = 0;           // extra bytes after the rows
  std::optional<std::size_t> length;  // cut the file to this many bytes (before bfSize is set)

  std::vector<std::uint8_t> Bytes() const;
};

// A well-formed w x h file of the pattern picture.
BmpFile PatternFile(int w, int h);

std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::uint16_t Read16(const std::vector<std::uint8_t>& bytes, std::size_t at);
void Write32(std::vector<std::uint8_t>* bytes, std::size_t at, std::uint32_t value);

// The file-system helpers and the picture comparison of the file layer's tests.
using imagetest::CompareImages;
using imagetest::FileExists;
using imagetest::ReadBytes;
using imagetest::TempDir;
using imagetest::WriteBytes;

}  // namespace bmptest
