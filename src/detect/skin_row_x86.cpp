#include "detect/skin_row_x86.h"

#include "detect/skin_rule.h"

#if defined(BMPFACE_SSE2)
#include <immintrin.h>
// glibc 2.33 and later publish the processor features their loader found at start-up. The header
// is C (it uses _Bool), which g++ takes and clang++ does not.
#if defined(BMPFACE_AVX2) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define BMPFACE_LIBC_CPU_FEATURES 1
#endif

namespace bmpface {

namespace {

// SSE2 and AVX2 compare signed bytes only, so values and thresholds are shifted by 128 first.
constexpr char Biased(int threshold) { return static_cast<char>(threshold - 128); }

// Flags of 16 pixels given as blue, green and red planes: the shortened rule (SkinFlag).
inline __m128i SkinFlags16(__m128i b, __m128i g, __m128i r) {
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i sr = _mm_xor_si128(r, bias);
  const __m128i sb = _mm_xor_si128(b, bias);
  __m128i m = _mm_cmpgt_epi8(sr, _mm_set1_epi8(Biased(kSkinRedAbove)));
  m = _mm_and_si128(m,
                    _mm_cmpgt_epi8(_mm_xor_si128(g, bias), _mm_set1_epi8(Biased(kSkinGreenAbove))));
  m = _mm_and_si128(m, _mm_cmpgt_epi8(sb, _mm_set1_epi8(Biased(kSkinBlueAbove))));
  const __m128i redOverGreen = _mm_subs_epu8(r, g);  // 0 where red <= green
  m = _mm_and_si128(m, _mm_cmpgt_epi8(_mm_xor_si128(redOverGreen, bias),
                                      _mm_set1_epi8(Biased(kSkinRedGreenAbove))));
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

// The pixel size is a template constant so that the loops compile to fixed-stride loads.
template <int kBytesPerPixel>
int32_t BlocksSSE2(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  int32_t x = 0;
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
  return x;
}

}  // namespace

int32_t ClassifyBlocksSSE2(const uint8_t* pixels, int32_t width, int32_t bytesPerPixel,
                           uint8_t* flags) {
  return bytesPerPixel == 4 ? BlocksSSE2<4>(pixels, width, flags)
                            : BlocksSSE2<3>(pixels, width, flags);
}

#if defined(BMPFACE_AVX2)
#define BMPFACE_TARGET_AVX2 __attribute__((target("avx2")))

namespace {

// Flags of 32 pixels given as blue, green and red planes: SkinFlags16 on 256-bit lanes.
BMPFACE_TARGET_AVX2 inline __m256i SkinFlags32(__m256i b, __m256i g, __m256i r) {
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i sr = _mm256_xor_si256(r, bias);
  const __m256i sb = _mm256_xor_si256(b, bias);
  __m256i m = _mm256_cmpgt_epi8(sr, _mm256_set1_epi8(Biased(kSkinRedAbove)));
  m = _mm256_and_si256(
      m, _mm256_cmpgt_epi8(_mm256_xor_si256(g, bias), _mm256_set1_epi8(Biased(kSkinGreenAbove))));
  m = _mm256_and_si256(m, _mm256_cmpgt_epi8(sb, _mm256_set1_epi8(Biased(kSkinBlueAbove))));
  const __m256i redOverGreen = _mm256_subs_epu8(r, g);
  m = _mm256_and_si256(m, _mm256_cmpgt_epi8(_mm256_xor_si256(redOverGreen, bias),
                                            _mm256_set1_epi8(Biased(kSkinRedGreenAbove))));
  m = _mm256_and_si256(m, _mm256_cmpgt_epi8(sr, sb));
  return _mm256_and_si256(m, _mm256_set1_epi8(1));
}

BMPFACE_TARGET_AVX2 inline __m256i Broadcast16(const int8_t* bytes) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// 16 packed 3-byte pixels are three 16-byte parts; byte k of channel c's plane is byte
// kGather3[c][part][k] of one part (-1: of none).
constexpr int8_t kGather3[3][3][16] = {
    {{0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13}},
    {{1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14}},
    {{2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1},
     {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15}}};

// Four 4-byte pixels as their blue, green, red and fourth bytes, in that order.
constexpr int8_t kGather4[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};

template <int kBytesPerPixel>
BMPFACE_TARGET_AVX2 int32_t BlocksAVX2(const uint8_t* pixel, int32_t width, uint8_t* flags) {
  int32_t x = 0;
  if (kBytesPerPixel == 3) {
    __m256i gather[3][3];
    for (int c = 0; c < 3; ++c)
      for (int part = 0; part < 3; ++part) gather[c][part] = Broadcast16(kGather3[c][part]);
    for (; width - x >= 32; x += 32, pixel += 96) {
      // Pixels 0-15 in the low lanes, 16-31 in the high lanes, so that byte shuffles, which stay
      // within a lane, can gather each plane.
      __m256i parts[3];
      for (int part = 0; part < 3; ++part) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 16 * part));
        const __m128i high =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 48 + 16 * part));
        parts[part] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
      }
      __m256i plane[3];
      for (int c = 0; c < 3; ++c) {
        plane[c] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(parts[0], gather[c][0]),
                                                   _mm256_shuffle_epi8(parts[1], gather[c][1])),
                                   _mm256_shuffle_epi8(parts[2], gather[c][2]));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(flags + x),
                          SkinFlags32(plane[0], plane[1], plane[2]));
    }
  } else {
    const __m256i gather = Broadcast16(kGather4);
    // The transposition below leaves groups of four flags in the order 0, 2, 4, 6, 1, 3, 5, 7.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; width - x >= 32; x += 32, pixel += 128) {
      __m256i q[4];
      for (int k = 0; k < 4; ++k) {
        q[k] = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixel + 32 * k)), gather);
      }
      const __m256i blueGreen01 = _mm256_unpacklo_epi32(q[0], q[1]);
      const __m256i blueGreen23 = _mm256_unpacklo_epi32(q[2], q[3]);
      const __m256i red01 = _mm256_unpackhi_epi32(q[0], q[1]);
      const __m256i red23 = _mm256_unpackhi_epi32(q[2], q[3]);
      const __m256i flags32 = SkinFlags32(_mm256_unpacklo_epi64(blueGreen01, blueGreen23),
                                          _mm256_unpackhi_epi64(blueGreen01, blueGreen23),
                                          _mm256_unpacklo_epi64(red01, red23));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(flags + x),
                          _mm256_permutevar8x32_epi32(flags32, order));
    }
  }
  return x;
}

}  // namespace

// Each question to the processor (cpuid) costs microseconds in a virtual machine, and the
// compiler's check links in a probe of every feature that runs in each process at start-up. The C
// library has already asked, so its answer is read where it can be.
int ProcessorHasAVX2() {
#if defined(BMPFACE_LIBC_CPU_FEATURES)
  return CPU_FEATURE_ACTIVE(AVX2) ? 1 : 0;
#else
  return __builtin_cpu_supports("avx2") ? 1 : 0;
#endif
}

int32_t ClassifyBlocksAVX2(const uint8_t* pixels, int32_t width, int32_t bytesPerPixel,
                           uint8_t* flags) {
  return bytesPerPixel == 4 ? BlocksAVX2<4>(pixels, width, flags)
                            : BlocksAVX2<3>(pixels, width, flags);
}
#endif  // BMPFACE_AVX2

}  // namespace bmpface

#endif  // BMPFACE_SSE2
