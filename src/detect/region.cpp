#include "detect/region.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace bmpface {

namespace {

// The runs whose neighbours in the rows above and below are still to be looked at, each by the
// number of its first flag. Taken and returned by value so that the grower's copy never has its
// address taken: the stores into the visited map could otherwise alias it.
struct WaitingRuns {
  uint32_t* runs;  // `inPlace` of the grower until the list outgrows it, then a block of its own
  size_t capacity;
};

// The list moved into a block of twice its room, or, with its block released, a list whose runs
// are null.
WaitingRuns Enlarge(WaitingRuns list, const uint32_t* inPlace) {
  const WaitingRuns failed{nullptr, 0};
  const bool ownBlock = list.runs != inPlace;
  if (list.capacity > SIZE_MAX / 2 / sizeof(uint32_t)) {
    if (ownBlock) PlatformFree(list.runs);
    return failed;
  }
  const size_t bytes = list.capacity * 2 * sizeof(uint32_t);
  uint32_t* block =
      static_cast<uint32_t*>(ownBlock ? PlatformRealloc(list.runs, bytes) : PlatformMalloc(bytes));
  if (block == nullptr) {
    if (ownBlock) PlatformFree(list.runs);
    return failed;
  }
  if (!ownBlock) std::memcpy(block, inPlace, list.capacity * sizeof(uint32_t));
  return WaitingRuns{block, list.capacity * 2};
}

}  // namespace

// A scanline fill over runs: the seed's run is taken whole, then each taken run has every free
// run that touches it in the rows above and below taken whole, and waits for its own neighbours.
// A run is taken when it is first seen, so none waits twice and the list never holds more runs
// than there are in the region (at most one per two pixels of a row). The box, count and centre do
// not depend on the order in which pixels are taken, only on which are.
int GrowRegion(SkinMaskView skinMask, FlagGrid visited, int32_t seedX, int32_t seedY,
               SkinRegion& region) {
  const size_t width = static_cast<size_t>(skinMask.width);
  const size_t height = static_cast<size_t>(skinMask.height);
  const uint64_t* skin = skinMask.words;
  uint64_t* taken = visited.words;
  // Set where a pixel is skin not yet visited: free to join the region.
  const auto freeWord = [skin, taken](size_t k) { return skin[k] & ~taken[k]; };
  const auto notFreeWord = [skin, taken](size_t k) { return ~(skin[k] & ~taken[k]); };
  const auto notSkinWord = [skin](size_t k) { return ~skin[k]; };

  uint32_t inPlace[kWaitingRunsInPlace];
  WaitingRuns list{inPlace, kWaitingRunsInPlace};
  size_t waiting = 0;
  size_t minX = static_cast<size_t>(seedX), maxX = minX;
  size_t minY = static_cast<size_t>(seedY), maxY = minY;
  size_t count = 0;

  // Takes the free run that begins at `first` in row y and puts it on the list; returns the end of
  // the run, or 0 when the list could not be enlarged.
  const auto take = [&](size_t first, size_t y) -> size_t {
    const size_t rowFirst = y * width;
    const size_t end = flags::FirstSet(notFreeWord, first, rowFirst + width);
    flags::SetRange(taken, first, end);
    count += end - first;
    if (first - rowFirst < minX) minX = first - rowFirst;
    if (end - 1 - rowFirst > maxX) maxX = end - 1 - rowFirst;
    if (y < minY) minY = y;
    if (y > maxY) maxY = y;
    if (waiting == list.capacity) {
      list = Enlarge(list, inPlace);
      if (list.runs == nullptr) return 0;
    }
    list.runs[waiting++] = static_cast<uint32_t>(first);
    return end;
  };
  // Takes every free run that touches flags [from, to) of row y.
  const auto takeTouching = [&](size_t from, size_t to, size_t y) {
    for (size_t at = flags::FirstSet(freeWord, from, to); at < to;
         at = flags::FirstSet(freeWord, at, to)) {
      // Only the first run found can begin before `from`.
      const size_t first = at == from ? flags::RunStart(freeWord, at, y * width) : at;
      at = take(first, y);
      if (at == 0) return false;
    }
    return true;
  };

  const size_t seedRow = static_cast<size_t>(seedY) * width;
  take(flags::RunStart(freeWord, seedRow + static_cast<size_t>(seedX), seedRow),
       static_cast<size_t>(seedY));  // the list has room for the first run
  while (waiting > 0) {
    const size_t first = list.runs[--waiting];  // the newest first
    const size_t y = first / width;
    // The run was taken whole, when first seen: it ends where the row's skin does.
    const size_t end = flags::FirstSet(notSkinWord, first, y * width + width);
    if ((y > 0 && !takeTouching(first - width, end - width, y - 1)) ||
        (y + 1 < height && !takeTouching(first + width, end + width, y + 1))) {
      return 0;  // the list's block is already released
    }
  }
  if (list.runs != inPlace) PlatformFree(list.runs);
  region.minX = static_cast<int32_t>(minX);
  region.maxX = static_cast<int32_t>(maxX);
  region.minY = static_cast<int32_t>(minY);
  region.maxY = static_cast<int32_t>(maxY);
  region.pixelCount = static_cast<int32_t>(count);
  region.centerX = (region.minX + region.maxX) / 2;
  region.centerY = (region.minY + region.maxY) / 2;
  return 1;
}

}  // namespace bmpface
