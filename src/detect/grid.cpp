#include "detect/grid.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace bmpface {

SkinMask AllocateRowArray(int32_t width, int32_t height) {
  const size_t rowCount = height > 0 ? static_cast<size_t>(height) : 0;
  const size_t rowBytes = width > 0 ? static_cast<size_t>(width) : 0;
  if (rowCount > SIZE_MAX / sizeof(uint8_t*)) return nullptr;
  SkinMask rows = static_cast<SkinMask>(PlatformMalloc(rowCount * sizeof(uint8_t*)));
  if (rows == nullptr) return nullptr;
  for (size_t y = 0; y < rowCount; ++y) {
    rows[y] = static_cast<uint8_t*>(PlatformCalloc(rowBytes, 1));
    if (rows[y] == nullptr) {
      while (y > 0) PlatformFree(rows[--y]);
      PlatformFree(rows);
      return nullptr;
    }
  }
  return rows;
}

void FreeRowArray(SkinMask rows, int32_t rowCount) {
  if (rows == nullptr) return;
  for (int32_t y = 0; y < rowCount; ++y) PlatformFree(rows[y]);
  PlatformFree(rows);
}

}  // namespace bmpface
