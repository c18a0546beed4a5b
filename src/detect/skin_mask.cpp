#include "detect/skin_mask.h"

#include <cstdint>
#include <cstring>

#include "detect/skin_row_x86.h"
#if defined(BMPFACE_SSE2)
#include <emmintrin.h>
#endif

namespace bmpface {

namespace {

template <int kBytesPerPixel>
void ClassifyPlain(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  for (int32_t x = 0; x < width; ++x, pixel += kBytesPerPixel) {
    flags[x] = SkinFlag(pixel[0], pixel[1], pixel[2]);
  }
}

// Pixels classified per kernel call: their flags are packed while still in the first-level cache.
constexpr int32_t kChunk = 1024;
// Rows narrower than a vector block, with fill bytes between them, go to the plain rule directly:
// a kernel call per row would cost more than the row itself.
constexpr int32_t kNarrowRow = 32;

// 64 flags (bytes 0 or 1) as the bits of a word, flag 0 in bit 0.
inline uint64_t PackFlags(const uint8_t* flags) {
  uint64_t bits = 0;
#if defined(BMPFACE_SSE2)
  for (int k = 0; k < 4; ++k) {
    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags + 16 * k));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(sixteen, 7)));
    bits |= uint64_t{mask} << (16 * k);
  }
#else
  // Eight flags at a time: the multiplication moves each flag's byte to its own bit of the top
  // byte, with no carries between them.
  for (int k = 0; k < 8; ++k) {
    uint64_t eight;
    std::memcpy(&eight, flags + 8 * k, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    eight = __builtin_bswap64(eight);  // flag 0 in the low byte
#endif
    bits |= (eight * 0x0102040810204080u >> 56) << (8 * k);
  }
#endif
  return bits;
}

// ORs the low `count` bits of `bits` into the mask's words from flag number `at` on.
inline void OrBits(uint64_t* words, size_t at, uint64_t bits, size_t count) {
  words[at / 64] |= bits << (at % 64);
  const size_t room = 64 - at % 64;
  if (count > room) words[at / 64 + 1] |= bits >> room;
}

// Classifies `count` pixels of `bytesPerPixel` bytes at `pixels` into the mask's flags from flag
// number `at` on, a chunk at a time.
void ClassifyRun(SkinRowKernel kernel, const uint8_t* pixels, size_t count, int32_t bytesPerPixel,
                 uint64_t* words, size_t at) {
  uint8_t flags[kChunk];
  for (size_t done = 0; done < count; done += kChunk, at += kChunk) {
    const int32_t n = count - done < kChunk ? static_cast<int32_t>(count - done) : kChunk;
    ClassifySkinRow(kernel, pixels + done * static_cast<size_t>(bytesPerPixel), n, bytesPerPixel,
                    flags);
    int32_t i = 0;
    for (; n - i >= 64; i += 64)
      OrBits(words, at + static_cast<size_t>(i), PackFlags(flags + i), 64);
    uint64_t bits = 0;
    for (int32_t k = 0; i + k < n; ++k) bits |= uint64_t{flags[i + k]} << k;
    if (i < n) OrBits(words, at + static_cast<size_t>(i), bits, static_cast<size_t>(n - i));
  }
}

// Rows narrower than a vector block, by the plain rule: their flags follow each other in the mask
// as the pixels do in the rows, so they are gathered into whole words across rows.
void ClassifyNarrowRows(const BMPImage& image, int32_t firstRow, int32_t rowCount, SkinMask& mask) {
  size_t at = static_cast<size_t>(firstRow) * static_cast<size_t>(image.width);
  uint64_t bits = 0;
  for (int32_t y = firstRow; y < firstRow + rowCount; ++y) {
    const uint8_t* p = PixelAt(image, 0, y);
    for (int32_t x = 0; x < image.width; ++x, p += image.bytesPerPixel, ++at) {
      bits |= uint64_t{SkinFlag(p[0], p[1], p[2])} << (at % 64);
      if (at % 64 == 63) {
        mask.words[at / 64] |= bits;  // OR: the first word may hold flags of an earlier row
        bits = 0;
      }
    }
  }
  if (at % 64 != 0) mask.words[at / 64] |= bits;
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

SkinMask StartSkinMask(const BMPImage& image) {
  SkinMask mask;
  AllocateFlagGrid(image.width, image.height, mask);
  return mask;
}

void ClassifySkinRows(const BMPImage& image, int32_t firstRow, int32_t rowCount, SkinMask& mask) {
  if (image.width < 1 || rowCount < 1) return;
  const SkinRowKernel kernel = SkinRowKernelAvailable(kSkinRowAVX2)   ? kSkinRowAVX2
                               : SkinRowKernelAvailable(kSkinRowSSE2) ? kSkinRowSSE2
                                                                      : kSkinRowScalar;
  const size_t width = static_cast<size_t>(image.width);
  // Rows without fill bytes lie in memory one after another as their flags do in the mask, and
  // are classified as one run; so are rows of one pixel, each a 4-byte pixel with its fill.
  const int32_t step = image.width == 1 ? image.rowStride : image.bytesPerPixel;
  if (static_cast<size_t>(image.rowStride) == width * static_cast<size_t>(step)) {
    ClassifyRun(kernel, PixelAt(image, 0, firstRow), width * static_cast<size_t>(rowCount), step,
                mask.words, static_cast<size_t>(firstRow) * width);
    return;
  }
  if (image.width < kNarrowRow) {
    ClassifyNarrowRows(image, firstRow, rowCount, mask);
    return;
  }
  for (int32_t y = firstRow; y < firstRow + rowCount; ++y) {
    ClassifyRun(kernel, PixelAt(image, 0, y), width, image.bytesPerPixel, mask.words,
                static_cast<size_t>(y) * width);
  }
}

SkinMask BuildSkinMask(const BMPImage& image) {
  SkinMask mask = StartSkinMask(image);
  if (mask.words != nullptr) ClassifySkinRows(image, 0, image.height, mask);
  return mask;
}

}  // namespace bmpface
