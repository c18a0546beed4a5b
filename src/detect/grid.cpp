#include "detect/grid.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace bmpface {

int AllocateFlagGrid(int32_t width, int32_t height, FlagGrid& grid) {
  grid = FlagGrid{nullptr, width, height};
  const uint64_t count = width > 0 && height > 0 ? uint64_t(width) * uint64_t(height) : 0;
  if (count > kMaxGridFlags) return 0;
  grid.words = static_cast<uint64_t*>(
      PlatformCalloc(static_cast<size_t>((count + 63) / 64), sizeof(uint64_t)));
  return grid.words != nullptr ? 1 : 0;
}

void FreeFlagGrid(FlagGrid& grid) {
  PlatformFree(grid.words);
  grid.words = nullptr;
}

}  // namespace bmpface
