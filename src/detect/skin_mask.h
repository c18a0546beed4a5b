// The skin rule and the per-pixel grids (skin mask and visited map) built on it.
#ifndef BMPFACE_DETECT_SKIN_MASK_H_
#define BMPFACE_DETECT_SKIN_MASK_H_

#include <cstdint>

#include "image/bmp_image.h"

namespace bmpface {

// `height` separately obtained rows of `width` one-byte flags, top row first; flag x of row y
// belongs to pixel (x, y). Used for the skin mask and the visited map; released with FreeRowArray.
using SkinMask = uint8_t**;

// 1 when the colour is skin-like by the fixed rule, else 0. Written without branches so that the
// mask loop vectorises; the result is that of testing the rules one after another.
inline int IsSkinColor(uint8_t blue, uint8_t green, uint8_t red) {
  const int b = blue;
  const int g = green;
  const int r = red;
  const int hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int rg = r - g;
  return (r > 95) & (g > 40) & (b > 20) & (hi - lo > 15) & (r > g) & (r > b) &
         ((rg > 15) | (rg < -15));
}

// The row classifiers the mask can use. The vector ones exist on x86 only; AVX2 is chosen at run
// time where the processor has it.
enum SkinRowKernel { kSkinRowScalar, kSkinRowSSE2, kSkinRowAVX2 };

// 1 when this build, on this processor, can run `kernel`.
int SkinRowKernelAvailable(SkinRowKernel kernel);

// Sets flags[0..width) by the skin rule for the `width` pixels of `bytesPerPixel` (3 or 4) bytes
// at `pixels`, using `kernel`, which must be available. BuildSkinMask uses the fastest one.
void ClassifySkinRow(SkinRowKernel kernel, const uint8_t* pixels, int32_t width,
                     int32_t bytesPerPixel, uint8_t* flags);

// A grid of zero flags, or null when memory runs out (having released what it obtained, newest
// row first, then the row table).
SkinMask AllocateRowArray(int32_t width, int32_t height);

// The skin mask of `image`, or null when memory runs out. Release with FreeRowArray.
SkinMask BuildSkinMask(const BMPImage& image);

// Releases rows 0 to rowCount - 1, then the table. Harmless on null.
void FreeRowArray(SkinMask rows, int32_t rowCount);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_SKIN_MASK_H_
