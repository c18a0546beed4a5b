// A BMP file's bytes: little-endian fields, where each header field sits, and the values the
// headers use. Every reader and writer of BMP bytes, in the library and in the tools, takes them
// from here, so the layout is written once.
#ifndef BMPFACE_IMAGE_BMP_BYTES_H_
#define BMPFACE_IMAGE_BMP_BYTES_H_

#include <climits>
#include <cstdint>

namespace bmpface {

inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Two's complement reinterpretation without relying on implementation-defined conversion.
inline int32_t ToSigned32(uint32_t v) {
  return v <= INT32_MAX ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

inline void WriteLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void WriteLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

constexpr uint16_t kBMPMagic = 0x4D42;  // "BM" read little-endian
constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr int kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr uint32_t kOS2InfoHeaderBytes = 12;  // BITMAPCOREHEADER: 16-bit sizes

// Offsets in the file of the 14-byte file header's fields and of the 40-byte info header's.
constexpr int kAtType = 0;
constexpr int kAtFileSize = 2;
constexpr int kAtReserved1 = 6;
constexpr int kAtReserved2 = 8;
constexpr int kAtPixelOffset = 10;
constexpr int kAtInfoSize = 14;
constexpr int kAtWidth = 18;
constexpr int kAtHeight = 22;
constexpr int kAtPlanes = 26;
constexpr int kAtBitCount = 28;
constexpr int kAtCompression = 30;
constexpr int kAtImageSize = 34;
constexpr int kAtXPelsPerMeter = 38;
constexpr int kAtYPelsPerMeter = 42;
constexpr int kAtColoursUsed = 46;
constexpr int kAtColoursImportant = 50;

// The same fields in an OS/2 1.x info header, where sizes are 16 bits.
constexpr int kAtCoreWidth = 18;
constexpr int kAtCoreHeight = 20;
constexpr int kAtCorePlanes = 22;
constexpr int kAtCoreBitCount = 24;

// biCompression values.
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRLE8 = 1;
constexpr uint32_t kCompressionRLE4 = 2;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCompressionAlphaBitFields = 6;

// The resolution a new file declares: 72 dots per inch.
constexpr int32_t kPixelsPerMetre = 2835;

}  // namespace bmpface

#endif  // BMPFACE_IMAGE_BMP_BYTES_H_
