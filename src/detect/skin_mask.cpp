#include "detect/skin_mask.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace bmpface {

namespace {

// The pixel size is a template constant so that the inner loop compiles to fixed-stride loads.
template <int kBytesPerPixel>
void ClassifyRow(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  for (int32_t x = 0; x < width; ++x, pixel += kBytesPerPixel) {
    flags[x] = static_cast<uint8_t>(IsSkinColor(pixel[0], pixel[1], pixel[2]));
  }
}

}  // namespace

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

SkinMask BuildSkinMask(const BMPImage& image) {
  SkinMask mask = AllocateRowArray(image.width, image.height);
  if (mask == nullptr) return nullptr;
  for (int32_t y = 0; y < image.height && image.width > 0; ++y) {
    const uint8_t* row = PixelAt(image, 0, y);
    if (image.bytesPerPixel == 4) {
      ClassifyRow<4>(row, image.width, mask[y]);
    } else if (image.bytesPerPixel == 3) {
      ClassifyRow<3>(row, image.width, mask[y]);
    }
  }
  return mask;
}

void FreeRowArray(SkinMask rows, int32_t rowCount) {
  if (rows == nullptr) return;
  for (int32_t y = 0; y < rowCount; ++y) PlatformFree(rows[y]);
  PlatformFree(rows);
}

}  // namespace bmpface
