// The x86 vector kernels of the skin mask. Each classifies whole blocks of pixels at the start of
// a row by the rule of skin_rule.h and returns how many pixels it did; the caller finishes the
// row. Only the dispatch in skin_mask.cpp calls them.
#ifndef BMPFACE_DETECT_SKIN_ROW_X86_H_
#define BMPFACE_DETECT_SKIN_ROW_X86_H_

#include <cstdint>

#include "detect/simd.h"

namespace bmpface {

#if defined(BMPFACE_SSE2)
// Blocks of 16 pixels of `bytesPerPixel` (3 or 4) bytes.
int32_t ClassifyBlocksSSE2(const uint8_t* pixels, int32_t width, int32_t bytesPerPixel,
                           uint8_t* flags);
#endif

#if defined(BMPFACE_AVX2)
// 1 when this processor runs AVX2.
int ProcessorHasAVX2();
// Blocks of 32 pixels; call only where ProcessorHasAVX2().
int32_t ClassifyBlocksAVX2(const uint8_t* pixels, int32_t width, int32_t bytesPerPixel,
                           uint8_t* flags);
#endif

}  // namespace bmpface

#endif  // BMPFACE_DETECT_SKIN_ROW_X86_H_
