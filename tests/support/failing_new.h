// Replaces the whole operator new and delete family of a test program with one
// that asks FailsAllocation(bytes) first and fails when it says so: std::bad_alloc
// from the throwing forms, null from the nothrow ones, as on a machine out of
// memory. Every form goes through malloc and free, so the sanitizers see matching
// pairs whichever form a library uses. Include it in exactly one file of the
// program, after declaring
//   bool FailsAllocation(std::size_t bytes);
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

bool FailsAllocation(std::size_t bytes);

namespace failing_new {
inline void* Allocate(std::size_t n, std::size_t alignment) {
  if (FailsAllocation(n)) return nullptr;
  if (n == 0) n = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(n);
  return std::aligned_alloc(alignment, (n + alignment - 1) / alignment * alignment);
}
inline void* AllocateOrThrow(std::size_t n, std::size_t alignment) {
  if (void* p = Allocate(n, alignment)) return p;
  throw std::bad_alloc();
}
}  // namespace failing_new

void* operator new(std::size_t n) { return failing_new::AllocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return failing_new::AllocateOrThrow(n, 0); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return failing_new::Allocate(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return failing_new::Allocate(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a) {
  return failing_new::AllocateOrThrow(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return failing_new::AllocateOrThrow(n, std::size_t(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return failing_new::Allocate(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return failing_new::Allocate(n, std::size_t(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
