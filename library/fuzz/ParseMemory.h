// The most heap memory a piece of work holds at once, beyond what was held when it began, as
// the address sanitizer's allocation hooks see it; 0 in builds without that sanitizer. The fuzz
// targets hold each parse to the bound docs/formats.md states, so that a shape whose memory
// grows faster than its input is a finding the moment the fuzzer meets it; the library's
// tests hold the worst shapes known to the same bound.
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

constexpr bool kCountsMemory = true;

// The hooks see every thread's allocations, and libFuzzer's own threads (the resident-memory
// watcher) allocate and free while a parse runs; only the measuring thread counts, and only
// inside the measured work. A block freed there that was allocated before it began lowers the
// count below the start, which is why the count is signed.
inline thread_local bool tMeasuring = false;
inline thread_local long long tLiveBytes = 0;
inline thread_local long long tPeakBytes = 0;

inline void onMalloc(const volatile void* /*ptr*/, size_t size) {
  if (!tMeasuring) return;
  tLiveBytes += static_cast<long long>(size);
  if (tLiveBytes > tPeakBytes) tPeakBytes = tLiveBytes;
}

// Runs before the block is freed, while its size can still be asked.
inline void onFree(const volatile void* ptr) {
  if (tMeasuring) tLiveBytes -= static_cast<long long>(__sanitizer_get_allocated_size(ptr));
}

// Installed once per program: each installation would count every allocation once more.
inline void installHooks() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  (void)installed;
}

template <typename Work>
size_t peakBytesOf(Work&& work) {
  installHooks();
  tLiveBytes = 0;
  tPeakBytes = 0;
  tMeasuring = true;
  work();
  tMeasuring = false;
  return static_cast<size_t>(tPeakBytes);
}

}  // namespace ovattr_fuzz

#else

namespace ovattr_fuzz {

constexpr bool kCountsMemory = false;

template <typename Work>
size_t peakBytesOf(Work&& work) {
  work();
  return 0;
}

}  // namespace ovattr_fuzz

#endif
