// The skin mask of a picture: one flag per pixel by the skin rule.
#ifndef BMPFACE_DETECT_SKIN_MASK_H_
#define BMPFACE_DETECT_SKIN_MASK_H_

#include <cstdint>

#include "detect/grid.h"
#include "detect/skin_rule.h"
#include "image/bmp_image.h"

namespace bmpface {

// The row classifiers the mask can use. The vector ones exist in x86 builds only; AVX2 is chosen
// at run time where the processor has it.
enum SkinRowKernel { kSkinRowScalar, kSkinRowSSE2, kSkinRowAVX2 };

// 1 when this build, on this processor, can run `kernel`.
int SkinRowKernelAvailable(SkinRowKernel kernel);

// Sets flags[0..width) by the skin rule for the `width` pixels of `bytesPerPixel` (3 or 4) bytes
// at `pixels`, using `kernel`, which must be available. BuildSkinMask uses the fastest one.
void ClassifySkinRow(SkinRowKernel kernel, const uint8_t* pixels, int32_t width,
                     int32_t bytesPerPixel, uint8_t* flags);

// The skin mask of `image`, obtained in one memory request; its words are null when memory runs
// out. Release with FreeFlagGrid.
SkinMask BuildSkinMask(const BMPImage& image);

// The same in steps, so that rows can be classified as soon as they are read: StartSkinMask
// obtains the mask of a picture of that size with every flag clear (words null when memory runs
// out), ClassifySkinRows sets the flags of pixel rows firstRow to firstRow + rowCount - 1.
SkinMask StartSkinMask(const BMPImage& image);
void ClassifySkinRows(const BMPImage& image, int32_t firstRow, int32_t rowCount, SkinMask& mask);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_SKIN_MASK_H_
