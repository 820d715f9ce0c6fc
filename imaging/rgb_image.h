// A decoded picture, the form every reader returns and every writer takes: rows
// from the top, each row left to right, three bytes a pixel (red, green, blue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  const std::uint8_t* At(int x, int y) const {
    return &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
  }
  std::uint8_t* At(int x, int y) {
    return &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
  }
  // Packed red in bits 0-7, green in 8-15, blue in 16-23.
  std::uint32_t Pixel(int x, int y) const {
    const std::uint8_t* p = At(x, y);
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
  }
};
