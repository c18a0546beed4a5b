#include "detect/skin_mask.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bmpface {

namespace {

// The rule in the form the row loops use. With red above green and blue, the spread max - min is
// red - min(green, blue) >= red - green, so "red exceeds green by more than 15" implies the spread
// test; what remains are five comparisons that also fit unsigned 8-bit vector lanes. A test checks
// it against IsSkinColor for every colour.
inline uint8_t SkinFlag(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint8_t>((r > 95) & (g > 40) & (b > 20) & (r - g > 15) & (r > b));
}

#if defined(__SSE2__)
// Flags of 16 pixels given as blue, green and red planes. SSE2 compares signed bytes only, so
// values are shifted by 128 first.
inline __m128i SkinFlags16(__m128i b, __m128i g, __m128i r) {
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i sr = _mm_xor_si128(r, bias);
  const __m128i sb = _mm_xor_si128(b, bias);
  __m128i m = _mm_cmpgt_epi8(sr, _mm_set1_epi8(95 - 128));
  m = _mm_and_si128(m, _mm_cmpgt_epi8(_mm_xor_si128(g, bias), _mm_set1_epi8(40 - 128)));
  m = _mm_and_si128(m, _mm_cmpgt_epi8(sb, _mm_set1_epi8(20 - 128)));
  const __m128i redOverGreen = _mm_subs_epu8(r, g);  // 0 where red <= green
  m = _mm_and_si128(m, _mm_cmpgt_epi8(_mm_xor_si128(redOverGreen, bias), _mm_set1_epi8(15 - 128)));
  m = _mm_and_si128(m, _mm_cmpgt_epi8(sr, sb));
  return _mm_and_si128(m, _mm_set1_epi8(1));
}

// Splits 48 bytes of 16 packed 3-byte pixels into blue, green and red planes: four rounds of
// interleaving the halves leave every third byte together.
inline void Deinterleave3(__m128i& a, __m128i& b, __m128i& c) {
  for (int round = 0; round < 4; ++round) {
    const __m128i na = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(b, b));
    const __m128i nb = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
    const __m128i nc = _mm_unpacklo_epi8(b, _mm_unpackhi_epi64(c, c));
    a = na;
    b = nb;
    c = nc;
  }
}

// Byte `shift / 8` of each of the 16 four-byte pixels in a..d, as one plane.
inline __m128i Plane4(__m128i a, __m128i b, __m128i c, __m128i d, int shift) {
  const __m128i low = _mm_set1_epi32(0xFF);
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m128i ab = _mm_packs_epi32(_mm_and_si128(_mm_srl_epi32(a, count), low),
                                     _mm_and_si128(_mm_srl_epi32(b, count), low));
  const __m128i cd = _mm_packs_epi32(_mm_and_si128(_mm_srl_epi32(c, count), low),
                                     _mm_and_si128(_mm_srl_epi32(d, count), low));
  return _mm_packus_epi16(ab, cd);
}
#endif

// The pixel size is a template constant so that the loops compile to fixed-stride loads.
template <int kBytesPerPixel>
void ClassifyRow(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  int32_t x = 0;
#if defined(__SSE2__)
  for (; width - x >= 16; x += 16, pixel += 16 * kBytesPerPixel) {
    const __m128i* in = reinterpret_cast<const __m128i*>(pixel);
    __m128i a = _mm_loadu_si128(in);
    __m128i b = _mm_loadu_si128(in + 1);
    __m128i c = _mm_loadu_si128(in + 2);
    __m128i result;
    if (kBytesPerPixel == 3) {
      Deinterleave3(a, b, c);
      result = SkinFlags16(a, b, c);
    } else {
      const __m128i d = _mm_loadu_si128(in + 3);
      result = SkinFlags16(Plane4(a, b, c, d, 0), Plane4(a, b, c, d, 8), Plane4(a, b, c, d, 16));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(flags + x), result);
  }
#endif
  for (; x < width; ++x, pixel += kBytesPerPixel) flags[x] = SkinFlag(pixel[0], pixel[1], pixel[2]);
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
