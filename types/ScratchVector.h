// The typed initialiser's temporary arrays: the values it converts, which the library copies
// and the initialiser then frees.
#pragma once

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace Tessark::PyOvAttribute::v1 {

// Allocator of the initialiser's large temporary arrays (the values it converts, which the
// library copies and the initialiser then frees). Arrays of kMapBytes or more get a mapping of
// their own, with huge pages where the kernel grants them, and small ones come from malloc.
//
// Why: a temporary of many megabytes freed on the heap leaves, together with the attribute's
// own block freed later, a free area at the heap top that glibc trims, so that the next
// construction faults every page of both back in; that was most of the cost of building a
// large attribute. A separate mapping is returned whole on free and leaves the heap alone, and
// a huge-page mapping faults once per 2 MiB instead of once per 4 KiB.
template <typename T>
class ScratchAllocator {
 public:
  using value_type = T;
  static constexpr size_t kMapBytes = size_t{1} << 20;

  ScratchAllocator() noexcept = default;
  template <typename U>
  ScratchAllocator(const ScratchAllocator<U>& /*other*/) noexcept {}

  T* allocate(size_t count) {
    if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
#if defined(__linux__)
    const size_t bytes = count * sizeof(T);
    if (bytes >= kMapBytes) {
      const size_t mapped = MappedBytes(bytes);
      void* memory =
          mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (memory == MAP_FAILED) throw std::bad_alloc();
      // Only advice: without huge pages the mapping still works, with small pages.
      if (mapped % (size_t{2} << 20) == 0) madvise(memory, mapped, MADV_HUGEPAGE);
      return static_cast<T*>(memory);
    }
#endif
    return std::allocator<T>().allocate(count);
  }

  // `count` is the one given to allocate, so the size says where the memory came from.
  void deallocate(T* memory, size_t count) noexcept {
#if defined(__linux__)
    const size_t bytes = count * sizeof(T);
    if (bytes >= kMapBytes) {
      munmap(memory, MappedBytes(bytes));
      return;
    }
#endif
    std::allocator<T>().deallocate(memory, count);
  }

  friend bool operator==(const ScratchAllocator&, const ScratchAllocator&) noexcept { return true; }
  friend bool operator!=(const ScratchAllocator&, const ScratchAllocator&) noexcept {
    return false;
  }

 private:
  static size_t MappedBytes(size_t bytes) noexcept {
    constexpr size_t kHugePage = size_t{2} << 20;
    constexpr size_t kPage = size_t{4} << 10;
    const size_t unit = bytes >= kHugePage ? kHugePage : kPage;
    return (bytes + unit - 1) / unit * unit;
  }
};

// The initialiser's arrays of values.
template <typename T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;

}  // namespace Tessark::PyOvAttribute::v1
