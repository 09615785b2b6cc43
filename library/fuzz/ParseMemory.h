// The most heap memory a piece of work holds at once, beyond what was held when it began, as
// the address sanitizer's allocation hooks see it; 0 in builds without that sanitizer. The fuzz
// targets hold each parse to the bound docs/formats.md states, so that a shape whose memory
// grows faster than its input is a finding the moment the fuzzer meets it.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define OVATTR_FUZZ_COUNTS_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVATTR_FUZZ_COUNTS_MEMORY 1
#endif
#endif

#if defined(OVATTR_FUZZ_COUNTS_MEMORY)
// From the sanitizer runtime (declared here: gcc installs no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* ptr);

namespace ovattr_fuzz {

inline size_t gLiveBytes = 0;
inline size_t gPeakBytes = 0;

inline void onMalloc(const volatile void* /*ptr*/, size_t size) {
  gLiveBytes += size;
  if (gLiveBytes > gPeakBytes) gPeakBytes = gLiveBytes;
}

// Runs before the block is freed, while its size can still be asked.
inline void onFree(const volatile void* ptr) { gLiveBytes -= __sanitizer_get_allocated_size(ptr); }

template <typename Work>
size_t peakBytesOf(Work&& work) {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  (void)installed;
  const size_t start = gLiveBytes;
  gPeakBytes = start;
  work();
  return gPeakBytes - start;
}

}  // namespace ovattr_fuzz

#else

namespace ovattr_fuzz {

template <typename Work>
size_t peakBytesOf(Work&& work) {
  work();
  return 0;
}

}  // namespace ovattr_fuzz

#endif
