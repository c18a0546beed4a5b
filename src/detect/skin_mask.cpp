#include "detect/skin_mask.h"

#include <cstdint>

#include "detect/skin_row_x86.h"

namespace bmpface {

namespace {

template <int kBytesPerPixel>
void ClassifyPlain(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  for (int32_t x = 0; x < width; ++x, pixel += kBytesPerPixel) {
    flags[x] = SkinFlag(pixel[0], pixel[1], pixel[2]);
  }
}

}  // namespace

int SkinRowKernelAvailable(SkinRowKernel kernel) {
  switch (kernel) {
    case kSkinRowScalar:
      return 1;
    case kSkinRowSSE2:
#if defined(BMPFACE_SSE2)
      return 1;
#else
      return 0;
#endif
    case kSkinRowAVX2:
#if defined(BMPFACE_AVX2)
      return ProcessorHasAVX2();
#else
      return 0;
#endif
  }
  return 0;
}

// The one dispatch: the widest kernel asked for takes the blocks it can, narrower ones the rest.
void ClassifySkinRow(SkinRowKernel kernel, const uint8_t* pixels, int32_t width,
                     int32_t bytesPerPixel, uint8_t* flags) {
  if (bytesPerPixel != 3 && bytesPerPixel != 4) return;
  int32_t done = 0;
#if defined(BMPFACE_AVX2)
  if (kernel == kSkinRowAVX2) done = ClassifyBlocksAVX2(pixels, width, bytesPerPixel, flags);
#endif
#if defined(BMPFACE_SSE2)
  if (kernel != kSkinRowScalar) {
    done += ClassifyBlocksSSE2(pixels + done * bytesPerPixel, width - done, bytesPerPixel,
                               flags + done);
  }
#endif
  static_cast<void>(kernel);
  const uint8_t* rest = pixels + done * bytesPerPixel;
  if (bytesPerPixel == 4) {
    ClassifyPlain<4>(rest, width - done, flags + done);
  } else {
    ClassifyPlain<3>(rest, width - done, flags + done);
  }
}

SkinMask BuildSkinMask(const BMPImage& image) {
  SkinMask mask = AllocateRowArray(image.width, image.height);
  if (mask == nullptr) return nullptr;
  const SkinRowKernel kernel = SkinRowKernelAvailable(kSkinRowAVX2) ? kSkinRowAVX2
                               : SkinRowKernelAvailable(kSkinRowSSE2) ? kSkinRowSSE2
                                                                      : kSkinRowScalar;
  for (int32_t y = 0; y < image.height && image.width > 0; ++y) {
    ClassifySkinRow(kernel, PixelAt(image, 0, y), image.width, image.bytesPerPixel, mask[y]);
  }
  return mask;
}

}  // namespace bmpface
