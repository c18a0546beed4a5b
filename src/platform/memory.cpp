// Memory: the only malloc, calloc, realloc and free of the library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "platform/system_files.h"

#if defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace bmpface {

namespace {

// Every block is preceded by a header that says how it was obtained, so that PlatformFree and
// PlatformRealloc can give it back the same way (and the test build can count what is held).
struct BlockHeader {
  size_t bytes;   // as asked for
  size_t mapped;  // length of the block's own mapping, header included; 0 for a heap block
};
constexpr size_t kHeaderSize = 16;  // keeps the block aligned as malloc's own blocks are
static_assert(sizeof(BlockHeader) <= kHeaderSize && kHeaderSize % alignof(std::max_align_t) == 0,
              "the header must keep the block's alignment");

#ifdef BMPFACE_FAULT_INJECTION
// Test-only state; thread_local so that tests running requests on several threads stay independent.
thread_local long gFailAt = 0;
thread_local long gRequests = 0;
thread_local size_t gHeld = 0;
thread_local size_t gPeak = 0;

// Counts a memory request; true when the test asked for this one to fail.
bool InjectedFailure() {
  ++gRequests;
  return gFailAt != 0 && gRequests == gFailAt;
}

void Held(size_t obtained, size_t released) {
  gHeld += obtained;
  if (gHeld > gPeak) gPeak = gHeld;
  gHeld -= released;
}
#else
constexpr bool InjectedFailure() { return false; }
void Held(size_t, size_t) {}
#endif

#if defined(__linux__) && defined(MADV_HUGEPAGE)
// A picture's pixels, its crop and the grids of a large picture are each touched whole soon after
// they are obtained, and when their memory is fresh from the system, the faults of a first touch
// (one per 4 KB page) cost more than the work on the bytes.
// - Blocks of 4 MB and more get a mapping of their own that starts on a 2 MB boundary, with a
//   request for transparent huge pages over it: one fault per 2 MB from the first byte to the
//   last. The last, partial 2 MB span is a huge page too when the block fills at least half of it:
//   at most 1 MB of a page, and a quarter of the block, is left unused, and a tail costs at most
//   256 faults of 4 KB.
// - Blocks from 256 KB to 4 MB come from the heap, where a long-running process (a batch) gets
//   back memory it used before, already in place. Their pages are then put in place in one call:
//   for fresh memory instead of a fault per page (two for a grid that is read before it is
//   written), for memory in place already almost nothing.
// Both are requests only: where huge pages or populating are unavailable, nothing else changes.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPopulateFrom = size_t{256} << 10;
constexpr size_t kMapFrom = 2 * kHugePage;  // smaller blocks come from the heap
constexpr size_t kSmallPage = 4096;

// Blocks a thread gave back, kept for its next request. Mapping and unmapping a block on each
// request is cheap for one thread but stalls every other: unmapping takes the address space's
// lock for writing and interrupts the other cores that run threads of the process to flush their
// translation caches, so two threads each making a 12 MP copy per request reached only 1.4 to 1.8
// times one thread. A few blocks kept by each thread (its own, so that no lock is taken and no
// request sees another's state) are taken again whole, their pages in place: the large mappings
// with their huge pages, and the heap blocks that would be populated again (a grid of a large
// picture), so that a request in a steady stream makes no system call for memory. What a thread
// keeps is bounded, and given back when the thread ends.
constexpr size_t kMostKept = size_t{128} << 20;  // bytes a thread keeps at most, of each kind

template <int kSlots>
class KeptBlocks {
 public:
  explicit KeptBlocks(void (*release)(void* raw, size_t length)) : release_(release) {}
  KeptBlocks(const KeptBlocks&) = delete;
  KeptBlocks& operator=(const KeptBlocks&) = delete;
  ~KeptBlocks() {
    for (Block& b : kept_) {
      if (b.raw != nullptr) release_(b.raw, b.length);
    }
  }

  // The smallest kept block of `length` to twice `length` bytes (a much larger one is left for a
  // request of its size), or null; `length` becomes its length.
  void* Take(size_t& length) {
    Block* best = nullptr;
    for (Block& b : kept_) {
      if (b.raw != nullptr && b.length >= length && b.length / 2 <= length &&
          (best == nullptr || b.length < best->length)) {
        best = &b;
      }
    }
    if (best == nullptr) return nullptr;
    length = best->length;
    kept_bytes_ -= length;
    return std::exchange(best->raw, nullptr);
  }

  // Keeps the block, in place of the smallest one kept when there is no room; releases what is
  // not kept.
  void Keep(void* raw, size_t length) {
    Block* slot = nullptr;
    for (Block& b : kept_) {
      if (b.raw == nullptr) {
        slot = &b;
        break;
      }
      if (slot == nullptr || b.length < slot->length) slot = &b;
    }
    if (slot->raw != nullptr && slot->length < length) {
      release_(slot->raw, slot->length);
      kept_bytes_ -= slot->length;
      slot->raw = nullptr;
    }
    if (slot->raw != nullptr || length > kMostKept - kept_bytes_) {
      release_(raw, length);
      return;
    }
    *slot = {raw, length};
    kept_bytes_ += length;
  }

 private:
  struct Block {
    void* raw = nullptr;
    size_t length = 0;
  };
  void (*release_)(void* raw, size_t length);
  Block kept_[kSlots];
  size_t kept_bytes_ = 0;
};

void Unmap(void* raw, size_t length) { munmap(raw, length); }
void FreeHeapBlock(void* raw, size_t) { std::free(raw); }

thread_local KeptBlocks<2> tKeptMappings(Unmap);
thread_local KeptBlocks<4> tKeptHeap(FreeHeapBlock);  // a request's grids, at most 4 MB each

// A mapping for `total` bytes (at least kMapFrom) that starts on a huge-page boundary, and its
// length: one this thread kept (`kept`: as it was left), else a fresh zero-filled one; null when
// none can be made.
void* MapLarge(size_t total, size_t& length, bool& kept) {
  const size_t spans = total / kHugePage;
  const bool hugeTail = total % kHugePage >= kHugePage / 2;
  length = hugeTail ? (spans + 1) * kHugePage : (total + kSmallPage - 1) / kSmallPage * kSmallPage;
  if (length > SIZE_MAX - kHugePage) return nullptr;
  void* taken = tKeptMappings.Take(length);
  kept = taken != nullptr;
  if (kept) return taken;
  // Map one huge page more than needed, then give back what lies outside the aligned part.
  void* raw =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t first = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t begin = (first + kHugePage - 1) & ~(kHugePage - 1);
  if (begin > first) munmap(raw, begin - first);
  const size_t after = first + kHugePage - begin;
  if (after > 0) munmap(reinterpret_cast<void*>(begin + length), after);
  madvise(reinterpret_cast<void*>(begin), hugeTail ? length : spans * kHugePage, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(begin);
}

// Puts in place the pages that lie wholly inside a heap block of `total` bytes at `raw`.
void Populate(void* raw, size_t total) {
#if defined(MADV_POPULATE_WRITE)
  if (total < kPopulateFrom) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(raw) + kSmallPage - 1) & ~(kSmallPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(raw) + total) & ~(kSmallPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  static_cast<void>(raw);
  static_cast<void>(total);
#endif
}

// A heap block this thread kept for `total` bytes, or null.
void* TakeKeptHeap(size_t total) {
  if (total < kPopulateFrom) return nullptr;
  size_t length = total;
  return tKeptHeap.Take(length);
}
#else
void Populate(void*, size_t) {}
void* TakeKeptHeap(size_t) { return nullptr; }
#endif

// A block of `bytes` bytes with its header, zero-filled when asked; null when there is no memory.
void* Obtain(size_t bytes, bool zeroed) {
  if (bytes > SIZE_MAX - kHeaderSize) return nullptr;
  const size_t total = kHeaderSize + bytes;
  void* raw = nullptr;
  size_t mapped = 0;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (total >= kMapFrom) {
    bool kept = false;
    raw = MapLarge(total, mapped, kept);
    if (raw == nullptr) return nullptr;
    if (zeroed && kept) std::memset(raw, 0, total);  // a kept mapping holds what it held
  }
#endif
  if (raw == nullptr) {
    raw = TakeKeptHeap(total);
    if (raw != nullptr) {
      if (zeroed) std::memset(raw, 0, total);  // as it was left: its pages in place
    } else {
      raw = zeroed ? std::calloc(1, total) : std::malloc(total);
      if (raw == nullptr) return nullptr;
      Populate(raw, total);
    }
  }
  const BlockHeader header{bytes, mapped};
  std::memcpy(raw, &header, sizeof header);
  Held(bytes, 0);
  return static_cast<uint8_t*>(raw) + kHeaderSize;
}

BlockHeader HeaderOf(void* block) {
  BlockHeader header;
  std::memcpy(&header, static_cast<uint8_t*>(block) - kHeaderSize, sizeof header);
  return header;
}

}  // namespace

#ifdef BMPFACE_FAULT_INJECTION
void PlatformFailRequest(long n) {
  gFailAt = n;
  gRequests = 0;
  gPeak = gHeld;
}

long PlatformRequestCount() { return gRequests; }

bool PlatformStreamFails() { return InjectedFailure(); }
size_t PlatformBytesHeld() { return gHeld; }
size_t PlatformBytesPeak() { return gPeak; }
#endif

void* PlatformMalloc(size_t bytes) {
  if (InjectedFailure()) return nullptr;
  return Obtain(bytes, false);
}

void* PlatformCalloc(size_t count, size_t size) {
  if (InjectedFailure()) return nullptr;
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  return Obtain(count * size, true);
}

void* PlatformRealloc(void* block, size_t bytes) {
  if (InjectedFailure()) return nullptr;
  if (block == nullptr) return Obtain(bytes, false);
  const BlockHeader old = HeaderOf(block);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const bool staysOnHeap = old.mapped == 0 && bytes < kMapFrom - kHeaderSize;
#else
  const bool staysOnHeap = true;
#endif
  if (staysOnHeap && bytes <= SIZE_MAX - kHeaderSize) {
    void* raw = std::realloc(static_cast<uint8_t*>(block) - kHeaderSize, kHeaderSize + bytes);
    if (raw == nullptr) return nullptr;
    const BlockHeader header{bytes, 0};
    std::memcpy(raw, &header, sizeof header);
    Held(bytes, old.bytes);
    return static_cast<uint8_t*>(raw) + kHeaderSize;
  }
  // Into or out of a mapping of its own: both blocks are held while the contents move.
  void* moved = Obtain(bytes, false);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, old.bytes < bytes ? old.bytes : bytes);
  PlatformFree(block);
  return moved;
}

void PlatformFree(void* block) {
  if (block == nullptr) return;
  const BlockHeader header = HeaderOf(block);
  void* raw = static_cast<uint8_t*>(block) - kHeaderSize;
  Held(0, header.bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (header.mapped != 0) {
    tKeptMappings.Keep(raw, header.mapped);
    return;
  }
  if (kHeaderSize + header.bytes >= kPopulateFrom) {
    tKeptHeap.Keep(raw, malloc_usable_size(raw));
    return;
  }
#endif
  std::free(raw);
}

}  // namespace bmpface
