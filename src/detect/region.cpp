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

int GrowRegion(SkinMaskView skinMask, SkinMask visited, int32_t width, int32_t height,
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
  // Marks (nx, ny) and pushes it. Called for skin not yet visited, so marking at push time means
  // no position is ever pushed twice.
  auto take = [&](uint8_t* visitedRow, int32_t nx, int32_t ny) {
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
  take(visited[seedY], seedX, seedY);  // the stacks have room for it

  // Every position pushed is popped and counted once, so the box of the pushed positions is the
  // region's; a neighbour can only move the edge on its own side, and following that at push time
  // costs less than testing all four edges at every pop. Flags are 0 or 1, so "skin and not
  // visited" is skin > visited.
  while (top > 0) {
    --top;  // depth-first: the newest position first
    const int32_t x = stacks.xs[top];
    const int32_t y = stacks.ys[top];
    ++count;
    // Neighbours in the fixed order left, right, up, down.
    const uint8_t* skinRow = skinMask[y];
    uint8_t* visitedRow = visited[y];
    if (x > 0 && skinRow[x - 1] > visitedRow[x - 1]) {
      if (!take(visitedRow, x - 1, y)) return 0;
      minX = x - 1 < minX ? x - 1 : minX;
    }
    if (x + 1 < width && skinRow[x + 1] > visitedRow[x + 1]) {
      if (!take(visitedRow, x + 1, y)) return 0;
      maxX = x + 1 > maxX ? x + 1 : maxX;
    }
    if (y > 0 && skinMask[y - 1][x] > visited[y - 1][x]) {
      if (!take(visited[y - 1], x, y - 1)) return 0;
      minY = y - 1 < minY ? y - 1 : minY;
    }
    if (y + 1 < height && skinMask[y + 1][x] > visited[y + 1][x]) {
      if (!take(visited[y + 1], x, y + 1)) return 0;
      maxY = y + 1 > maxY ? y + 1 : maxY;
    }
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
