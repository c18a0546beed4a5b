#include "detect/region.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace bmpface {

namespace {

// The x and y stacks of pending positions, always of the same capacity.
struct WorkStacks {
  int32_t* xs;
  int32_t* ys;
  size_t capacity;
};

// Returns both stacks doubled, or, with both released, stacks whose xs is null. Taken and returned
// by value so that the grower's copies never have their address taken: the byte stores into the
// grids could otherwise alias them and force a reload after every store.
WorkStacks GrowStacks(WorkStacks stacks) {
  const WorkStacks failed{nullptr, nullptr, 0};
  if (stacks.capacity > SIZE_MAX / 2 / sizeof(int32_t)) {
    PlatformFree(stacks.xs);
    PlatformFree(stacks.ys);
    return failed;
  }
  const size_t bytes = stacks.capacity * 2 * sizeof(int32_t);
  int32_t* xs = static_cast<int32_t*>(PlatformRealloc(stacks.xs, bytes));
  if (xs == nullptr) {
    PlatformFree(stacks.xs);
    PlatformFree(stacks.ys);
    return failed;
  }
  int32_t* ys = static_cast<int32_t*>(PlatformRealloc(stacks.ys, bytes));
  if (ys == nullptr) {
    PlatformFree(xs);
    PlatformFree(stacks.ys);
    return failed;
  }
  return WorkStacks{xs, ys, stacks.capacity * 2};
}

}  // namespace

int GrowRegion(const SkinMask skinMask, SkinMask visited, int32_t width, int32_t height,
               int32_t seedX, int32_t seedY, SkinRegion& region) {
  WorkStacks stacks{nullptr, nullptr, kInitialStackCapacity};
  stacks.xs = static_cast<int32_t*>(PlatformMalloc(stacks.capacity * sizeof(int32_t)));
  stacks.ys = static_cast<int32_t*>(PlatformMalloc(stacks.capacity * sizeof(int32_t)));
  if (stacks.xs == nullptr || stacks.ys == nullptr) {
    PlatformFree(stacks.xs);
    PlatformFree(stacks.ys);
    return 0;
  }
  int32_t minX = seedX, maxX = seedX, minY = seedY, maxY = seedY, count = 0;
  size_t top = 0;
  // Pushes (nx, ny) when it is skin and not yet visited; marked at push time, so no position is
  // ever pushed twice. Flags are 0 or 1, so "skin and not visited" is skin > visited.
  auto push = [&](const uint8_t* skinRow, uint8_t* visitedRow, int32_t nx, int32_t ny) {
    if (skinRow[nx] <= visitedRow[nx]) return true;
    visitedRow[nx] = 1;
    if (top == stacks.capacity) {
      stacks = GrowStacks(stacks);
      if (stacks.xs == nullptr) return false;
    }
    stacks.xs[top] = nx;
    stacks.ys[top] = ny;
    ++top;
    return true;
  };
  stacks.xs[top] = seedX;
  stacks.ys[top] = seedY;
  ++top;
  visited[seedY][seedX] = 1;

  while (top > 0) {
    --top;  // depth-first: the newest position first
    const int32_t x = stacks.xs[top];
    const int32_t y = stacks.ys[top];
    ++count;
    minX = x < minX ? x : minX;
    maxX = x > maxX ? x : maxX;
    minY = y < minY ? y : minY;
    maxY = y > maxY ? y : maxY;
    // Neighbours in the fixed order left, right, up, down.
    const uint8_t* skinRow = skinMask[y];
    uint8_t* visitedRow = visited[y];
    if (x > 0 && !push(skinRow, visitedRow, x - 1, y)) return 0;
    if (x + 1 < width && !push(skinRow, visitedRow, x + 1, y)) return 0;
    if (y > 0 && !push(skinMask[y - 1], visited[y - 1], x, y - 1)) return 0;
    if (y + 1 < height && !push(skinMask[y + 1], visited[y + 1], x, y + 1)) return 0;
  }
  PlatformFree(stacks.xs);
  PlatformFree(stacks.ys);
  region.minX = minX;
  region.maxX = maxX;
  region.minY = minY;
  region.maxY = maxY;
  region.pixelCount = count;
  region.centerX = (minX + maxX) / 2;
  region.centerY = (minY + maxY) / 2;
  return 1;
}

}  // namespace bmpface
