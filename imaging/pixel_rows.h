// Conversions between the byte order of 24-bit device-independent bitmaps (blue,
// green, red) and of decoded pictures (red, green, blue): one routine for every
// reader, surface and display.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies `pixels` pixels of three bytes, exchanging the first and third byte of
// each. `in` and `out` may be the same row.
inline void SwapRedBlue(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels * 3; i += 3) {
    const std::uint8_t first = in[i];
    out[i + 1] = in[i + 1];
    out[i] = in[i + 2];
    out[i + 2] = first;
  }
}
