// Helpers shared by the fuzz targets: a plain re-statement of which files the
// reader must accept and what pixels they hold, used as the oracle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

inline std::uint32_t U16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
inline std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)                          \
  do {                                            \
    if (!(cond)) ::fuzz::Fail(#cond);             \
  } while (0)

// The outcome a file must have: accepted with this size and these pixels (rows
// from the top, red-green-blue), or refused.
struct Expected {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

inline Expected ExpectedDecode(const std::uint8_t* d, std::size_t size) {
  Expected e;
  if (size < 54) return e;
  if (d[0] != 'B' || d[1] != 'M') return e;
  if (U32(d + 2) != size) return e;
  const std::uint64_t offBits = U32(d + 10);
  const std::uint64_t biSize = U32(d + 14);
  const std::int64_t width = std::int32_t(U32(d + 18));
  const std::int64_t height = std::int32_t(U32(d + 22));
  if (U16(d + 28) != 24 || U32(d + 30) != 0) return e;
  if (biSize < 40 || offBits < 14 + biSize || offBits > size) return e;
  if (width < 1 || height == 0) return e;
  const std::int64_t rows = height < 0 ? -height : height;
  const std::uint64_t stride = (std::uint64_t(width) * 3 + 3) / 4 * 4;
  if (stride * std::uint64_t(rows) > size - offBits) return e;
  e.ok = true;
  e.width = int(width);
  e.height = int(rows);
  e.rgb.resize(std::size_t(width) * std::size_t(rows) * 3);
  for (std::int64_t i = 0; i < rows; ++i) {
    const std::int64_t y = height > 0 ? rows - 1 - i : i;  // stored row i is row y
    const std::uint8_t* row = d + offBits + std::uint64_t(i) * stride;
    for (std::int64_t x = 0; x < width; ++x) {
      std::uint8_t* out = &e.rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
      out[0] = row[x * 3 + 2];
      out[1] = row[x * 3 + 1];
      out[2] = row[x * 3 + 0];
    }
  }
  return e;
}

}  // namespace fuzz
