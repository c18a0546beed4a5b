#include "image/bmp_header.h"

#include <climits>

namespace bmpface {

namespace {

uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Two's complement reinterpretation without relying on implementation-defined conversion.
int32_t ToSigned(uint32_t v) {
  return v <= INT32_MAX ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

void WriteLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void UnpackBMPHeaders(const uint8_t (&b)[kHeaderBytes], BMPImage& image) {
  BMPFileHeader& fh = image.fileHeader;
  fh.bfType = ReadLE16(b + 0);
  fh.bfSize = ReadLE32(b + 2);
  fh.bfReserved1 = ReadLE16(b + 6);
  fh.bfReserved2 = ReadLE16(b + 8);
  fh.bfOffBits = ReadLE32(b + 10);
  BMPInfoHeader& ih = image.infoHeader;
  ih.biSize = ReadLE32(b + 14);
  ih.biWidth = ToSigned(ReadLE32(b + 18));
  ih.biHeight = ToSigned(ReadLE32(b + 22));
  ih.biPlanes = ReadLE16(b + 26);
  ih.biBitCount = ReadLE16(b + 28);
  ih.biCompression = ReadLE32(b + 30);
  ih.biSizeImage = ReadLE32(b + 34);
  ih.biXPelsPerMeter = ToSigned(ReadLE32(b + 38));
  ih.biYPelsPerMeter = ToSigned(ReadLE32(b + 42));
  ih.biClrUsed = ReadLE32(b + 46);
  ih.biClrImportant = ReadLE32(b + 50);
}

void PackBMPHeaders(const BMPImage& image, uint8_t (&b)[kHeaderBytes]) {
  const BMPFileHeader& fh = image.fileHeader;
  WriteLE16(b + 0, fh.bfType);
  WriteLE32(b + 2, fh.bfSize);
  WriteLE16(b + 6, fh.bfReserved1);
  WriteLE16(b + 8, fh.bfReserved2);
  WriteLE32(b + 10, fh.bfOffBits);
  const BMPInfoHeader& ih = image.infoHeader;
  WriteLE32(b + 14, ih.biSize);
  WriteLE32(b + 18, static_cast<uint32_t>(ih.biWidth));
  WriteLE32(b + 22, static_cast<uint32_t>(ih.biHeight));
  WriteLE16(b + 26, ih.biPlanes);
  WriteLE16(b + 28, ih.biBitCount);
  WriteLE32(b + 30, ih.biCompression);
  WriteLE32(b + 34, ih.biSizeImage);
  WriteLE32(b + 38, static_cast<uint32_t>(ih.biXPelsPerMeter));
  WriteLE32(b + 42, static_cast<uint32_t>(ih.biYPelsPerMeter));
  WriteLE32(b + 46, ih.biClrUsed);
  WriteLE32(b + 50, ih.biClrImportant);
}

int32_t BMPRowStride(int32_t bitCount, int32_t width) {
  if (width < 1 || bitCount < 1) return 0;
  const int64_t bits = int64_t{bitCount} * width + 31;
  if (bits > INT32_MAX) return 0;
  return static_cast<int32_t>(bits / 32 * 4);
}

int CheckBMPHeader(BMPImage& image, uint64_t fileSize) {
  const BMPInfoHeader& ih = image.infoHeader;
  if (image.fileHeader.bfType != kBMPMagic) return 0;
  if (ih.biBitCount != 24 && ih.biBitCount != 32) return 0;
  // -2^31 has no positive counterpart; zero rows or columns make no picture worth reading.
  if (ih.biWidth < 1 || ih.biHeight == 0 || ih.biHeight == INT32_MIN) return 0;
  const int32_t rowStride = BMPRowStride(ih.biBitCount, ih.biWidth);
  if (rowStride == 0) return 0;
  const int32_t height = ih.biHeight > 0 ? ih.biHeight : -ih.biHeight;
  if (height > INT32_MAX / rowStride) return 0;
  // Decided before any buffer is obtained: a short file never costs the memory it declares.
  const uint64_t pixelBytes = static_cast<uint64_t>(height) * static_cast<uint64_t>(rowStride);
  if (fileSize < image.fileHeader.bfOffBits || fileSize - image.fileHeader.bfOffBits < pixelBytes) {
    return 0;
  }
  image.width = ih.biWidth;
  image.height = height;
  image.bytesPerPixel = ih.biBitCount / 8;
  image.rowStride = rowStride;
  return 1;
}

}  // namespace bmpface
