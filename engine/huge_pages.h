// An allocator for the large scratch arrays of the fills: blocks of 2 MiB or more are
// aligned to 2 MiB and asked for huge pages where the system offers them. A fill
// touches tens of megabytes of new memory on every call, and with small pages the
// page faults of that first touch can cost more than the solve itself.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

template <typename T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (n > (std::size_t(-1) - kHugePage) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    const bool huge = bytes >= kHugePage;
    const std::size_t alignment = huge ? kHugePage : alignof(std::max_align_t);
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
    if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (huge) ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }

  template <typename U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const HugePageAllocator<U>&) const {
    return false;
  }
};

// A std::vector whose storage comes from HugePageAllocator.
template <typename T>
using HugeVector = std::vector<T, HugePageAllocator<T>>;
