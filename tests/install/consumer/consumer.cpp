#include <ruvanta/ruvanta.h>
#include <cstdio>
int main() {
  std::vector<std::uint8_t> rgb(64 * 48 * 3), mask(64 * 48, 0);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = std::uint8_t(i / 3 % 64 * 4);
  for (int y = 20; y < 30; ++y) for (int x = 10; x < 20; ++x) mask[y * 64 + x] = 1;
  const ruvanta::Result r = ruvanta::Restore({64, 48, rgb.data()}, {64, 48, mask.data()});
  if (!r.ok()) return std::printf("error: %s\n", r.error.message.c_str()), 1;
  std::printf("mask pixels: %u\niterations: %u\n", r.mask_pixels, r.iterations);
}
