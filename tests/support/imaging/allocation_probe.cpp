// The allocation probe of the file layer's tests, in a file of its own so that
// only the tests that ask for it replace the program's operator new.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/imaging/test_files.h"

namespace {

std::atomic<std::size_t> g_largest{0};
std::atomic<std::size_t> g_ceiling{0};

}  // namespace

// The probe: every plain operator new of the program comes here.
void* operator new(std::size_t size) {
  std::size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
  const std::size_t ceiling = g_ceiling.load(std::memory_order_relaxed);
  if (ceiling != 0 && size > ceiling) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace imagetest {

void ResetLargestAllocation() { g_largest = 0; }
std::size_t LargestAllocation() { return g_largest; }
void SetAllocationCeiling(std::size_t bytes) { g_ceiling = bytes; }

}  // namespace imagetest
