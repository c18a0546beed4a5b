// Memory: the only malloc, calloc, realloc and free of the library.
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace bmpface {

namespace {

#ifdef BMPFACE_FAULT_INJECTION
// Test-only state; thread_local so that tests running requests on several threads stay independent.
thread_local long gFailAt = 0;
thread_local long gRequests = 0;

// Counts a memory request; true when the test asked for this one to fail.
bool InjectedFailure() {
  ++gRequests;
  return gFailAt != 0 && gRequests == gFailAt;
}
#else
constexpr bool InjectedFailure() { return false; }
#endif

// A large block (a picture's pixels, a crop) is touched once, page by page, right after it is
// obtained, and on Linux most of a request's time went to those first-touch faults: one fault per
// 4 KB page. Asking for transparent huge pages over the block's whole 2 MB spans makes that one
// fault per 2 MB. Only a hint: where huge pages are off or unavailable, nothing changes.
void* AdviseLargeBlock(void* block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (block != nullptr && bytes >= 2 * kHugePage) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#else
  static_cast<void>(bytes);
#endif
  return block;
}

}  // namespace

#ifdef BMPFACE_FAULT_INJECTION
void PlatformFailRequest(long n) {
  gFailAt = n;
  gRequests = 0;
}

long PlatformRequestCount() { return gRequests; }
#endif

void* PlatformMalloc(size_t bytes) {
  if (InjectedFailure()) return nullptr;
  // A zero-byte request still yields a distinct block, so success is never mistaken for failure.
  return AdviseLargeBlock(std::malloc(bytes != 0 ? bytes : 1), bytes);
}

void* PlatformCalloc(size_t count, size_t size) {
  if (InjectedFailure()) return nullptr;
  if (count == 0 || size == 0) return std::calloc(1, 1);
  // calloc refuses a product that overflows, so count * size is the block's size when it succeeds.
  return AdviseLargeBlock(std::calloc(count, size), count * size);
}

void* PlatformRealloc(void* block, size_t bytes) {
  if (InjectedFailure()) return nullptr;
  return std::realloc(block, bytes != 0 ? bytes : 1);
}

void PlatformFree(void* block) { std::free(block); }

}  // namespace bmpface
