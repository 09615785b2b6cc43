// The most heap a piece of work holds at once beyond what it began with, as the address
// sanitizer's allocation hooks see it (0 without that sanitizer), for docs/formats.md's bounds.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define OVATTR_FUZZ_COUNTS_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVATTR_FUZZ_COUNTS_MEMORY 1
#endif
#endif

namespace ovattr_fuzz {

#if defined(OVATTR_FUZZ_COUNTS_MEMORY)
// From the sanitizer runtime (declared here: gcc installs no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* ptr);

constexpr bool kCountsMemory = true;

// Only the measuring thread counts, only inside the work (libFuzzer's own threads allocate
// meanwhile). Freeing what was allocated before can take the count below zero: it is signed.
inline thread_local bool tMeasuring = false;
inline thread_local long long tLiveBytes = 0, tPeakBytes = 0;

// Once per program: each installation counts every allocation once more. The free hook runs
// while the block's size can still be asked.
inline void installHooks() {
  [[maybe_unused]] static const bool installed = __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void*, size_t size) {
        if (tMeasuring && (tLiveBytes += static_cast<long long>(size)) > tPeakBytes)
          tPeakBytes = tLiveBytes;
      },
      [](const volatile void* ptr) {
        if (tMeasuring) tLiveBytes -= static_cast<long long>(__sanitizer_get_allocated_size(ptr));
      });
}

template <typename Work>
size_t peakBytesOf(Work&& work) {
  installHooks();
  tLiveBytes = tPeakBytes = 0;
  tMeasuring = true;
  work();
  tMeasuring = false;
  return static_cast<size_t>(tPeakBytes);
}

#else

constexpr bool kCountsMemory = false;

template <typename Work>
size_t peakBytesOf(Work&& work) {
  return work(), 0;
}

#endif

}  // namespace ovattr_fuzz
