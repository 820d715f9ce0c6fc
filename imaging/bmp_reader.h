// Reader of 24-bit uncompressed BMP files (info header of 40 bytes or more,
// bottom-up or top-down rows, pixels at bfOffBits). Everything else is refused
// with a one-line reason; a file is never half-decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/gdi.h"

// A decoded picture: rows from the top, each left to right, red-green-blue bytes.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  COLORREF Pixel(int x, int y) const {
    const std::uint8_t* p = &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
    return RGB(p[0], p[1], p[2]);
  }
};

struct BmpReadResult {
  bool ok = false;
  RgbImage image;      // set only when ok
  std::string reason;  // set only when not ok: what is wrong, in one line
};

// Decodes a whole file held in memory.
BmpReadResult DecodeBmp(const std::uint8_t* data, std::size_t size);
// Opens and decodes a file; reads only the headers before deciding to go on.
BmpReadResult ReadBmpFile(const std::string& path);
