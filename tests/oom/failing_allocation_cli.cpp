// ruvanta-cli with allocations that fail on purpose, for the tests: with
// RUVANTA_FAIL_ALLOCATION=N in its environment the N-th allocation of at least
// 256 KiB made through operator new fails (std::bad_alloc, or null from a nothrow
// new), as on a machine out of memory. The address-space caps of the tests cannot
// be used under AddressSanitizer, which maps terabytes of shadow memory; this
// reaches every large allocation site in turn in either build.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/cli_app.h"

namespace {
constexpr std::size_t kLarge = std::size_t(256) << 10;
std::atomic<long> g_large{0};

bool Fails(std::size_t n) {
  if (n < kLarge) return false;
  static const long at = [] {
    const char* v = std::getenv("RUVANTA_FAIL_ALLOCATION");
    return v ? std::atol(v) : 0L;
  }();
  return at > 0 && g_large.fetch_add(1) + 1 == at;
}

void* Allocate(std::size_t n, std::size_t alignment) {
  if (Fails(n)) return nullptr;
  if (n == 0) n = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(n);
  return std::aligned_alloc(alignment, (n + alignment - 1) / alignment * alignment);
}
}  // namespace

void* operator new(std::size_t n) {
  if (void* p = Allocate(n, 0)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) {
  if (void* p = Allocate(n, std::size_t(a))) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

int main(int argc, char** argv) { return RunCli(argc, argv, stdout, stderr); }
