#include "engine/run_clock.h"

#include <ctime>

std::uint64_t MonotonicMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u;
}

float AddElapsedSeconds(float seconds, std::uint64_t start, std::uint64_t end) {
  constexpr float kMillisecond = 0.001f;
  // Below 2^53 ms (285,000 years) the count is exact in a double.
  return float(double(ElapsedMilliseconds(start, end)) * double(kMillisecond) + double(seconds));
}

std::uint32_t MonotonicTickCount() { return std::uint32_t(MonotonicMilliseconds()); }
