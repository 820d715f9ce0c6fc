// The clock that times a run. Ticks are milliseconds of the monotonic clock counted
// in 64 bits: they never run backwards and do not wrap in the life of a machine,
// so the elapsed time of a run is a plain difference, at 40 days of uptime as
// after a fresh start. The total keeps its single-precision field: the elapsed
// milliseconds, exact in a double, are scaled by the float nearest 0.001 and
// added to it in double precision, then stored as a float.
#pragma once

#include <cstdint>

// Milliseconds of CLOCK_MONOTONIC.
std::uint64_t MonotonicMilliseconds();
// The same, wrapping at 2^32.
std::uint32_t MonotonicTickCount();

// Where an engine takes the ticks that time its runs: the monotonic clock, unless a
// test hands out ticks of its own.
class CRunClock {
 public:
  virtual ~CRunClock() = default;
  virtual std::uint64_t GetTickCount64() { return MonotonicMilliseconds(); }
};

// The milliseconds from `start` to `end`; 0 when a clock hands out an end before
// its start, so that a run never takes time away from the total.
constexpr std::uint64_t ElapsedMilliseconds(std::uint64_t start, std::uint64_t end) {
  return end > start ? end - start : 0;
}

// `seconds` + the elapsed milliseconds x 0.001f, as the total field holds it.
float AddElapsedSeconds(float seconds, std::uint64_t start, std::uint64_t end);
