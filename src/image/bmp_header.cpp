#include "image/bmp_header.h"

#include <climits>

#include "image/bmp_bytes.h"

namespace bmpface {

namespace {

uint32_t Saturated32(uint64_t v) { return v <= UINT32_MAX ? static_cast<uint32_t>(v) : UINT32_MAX; }

}  // namespace

void UnpackBMPHeaders(const uint8_t (&b)[kHeaderBytes], BMPImage& image) {
  BMPFileHeader& fh = image.fileHeader;
  fh.bfType = ReadLE16(b + kAtType);
  fh.bfSize = ReadLE32(b + kAtFileSize);
  fh.bfReserved1 = ReadLE16(b + kAtReserved1);
  fh.bfReserved2 = ReadLE16(b + kAtReserved2);
  fh.bfOffBits = ReadLE32(b + kAtPixelOffset);
  BMPInfoHeader& ih = image.infoHeader;
  ih.biSize = ReadLE32(b + kAtInfoSize);
  ih.biWidth = ToSigned32(ReadLE32(b + kAtWidth));
  ih.biHeight = ToSigned32(ReadLE32(b + kAtHeight));
  ih.biPlanes = ReadLE16(b + kAtPlanes);
  ih.biBitCount = ReadLE16(b + kAtBitCount);
  ih.biCompression = ReadLE32(b + kAtCompression);
  ih.biSizeImage = ReadLE32(b + kAtImageSize);
  ih.biXPelsPerMeter = ToSigned32(ReadLE32(b + kAtXPelsPerMeter));
  ih.biYPelsPerMeter = ToSigned32(ReadLE32(b + kAtYPelsPerMeter));
  ih.biClrUsed = ReadLE32(b + kAtColoursUsed);
  ih.biClrImportant = ReadLE32(b + kAtColoursImportant);
}

void PackBMPHeaders(const BMPImage& image, uint8_t (&b)[kHeaderBytes]) {
  const BMPFileHeader& fh = image.fileHeader;
  WriteLE16(b + kAtType, fh.bfType);
  WriteLE32(b + kAtFileSize, fh.bfSize);
  WriteLE16(b + kAtReserved1, fh.bfReserved1);
  WriteLE16(b + kAtReserved2, fh.bfReserved2);
  WriteLE32(b + kAtPixelOffset, fh.bfOffBits);
  const BMPInfoHeader& ih = image.infoHeader;
  WriteLE32(b + kAtInfoSize, ih.biSize);
  WriteLE32(b + kAtWidth, static_cast<uint32_t>(ih.biWidth));
  WriteLE32(b + kAtHeight, static_cast<uint32_t>(ih.biHeight));
  WriteLE16(b + kAtPlanes, ih.biPlanes);
  WriteLE16(b + kAtBitCount, ih.biBitCount);
  WriteLE32(b + kAtCompression, ih.biCompression);
  WriteLE32(b + kAtImageSize, ih.biSizeImage);
  WriteLE32(b + kAtXPelsPerMeter, static_cast<uint32_t>(ih.biXPelsPerMeter));
  WriteLE32(b + kAtYPelsPerMeter, static_cast<uint32_t>(ih.biYPelsPerMeter));
  WriteLE32(b + kAtColoursUsed, ih.biClrUsed);
  WriteLE32(b + kAtColoursImportant, ih.biClrImportant);
}

uint64_t BMPRowBytes(uint64_t bitCount, uint64_t width) {
  if (bitCount != 0 && width > (UINT64_MAX - 31) / bitCount) return UINT64_MAX;
  return (bitCount * width + 31) / 32 * 4;
}

int32_t BMPRowStride(int32_t bitCount, int32_t width) {
  if (width < 1 || bitCount < 1) return 0;
  if (int64_t{bitCount} * width + 31 > INT32_MAX) return 0;
  return static_cast<int32_t>(
      BMPRowBytes(static_cast<uint64_t>(bitCount), static_cast<uint64_t>(width)));
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

int SetPlainBMPLayout(BMPImage& image, int32_t width, int32_t height) {
  const uint64_t rowBytes = width < 1 ? 0 : BMPRowBytes(image.infoHeader.biBitCount, width);
  const uint64_t rows =
      height < 1 || rowBytes == UINT64_MAX ? UINT64_MAX : rowBytes * static_cast<uint64_t>(height);
  image.width = width;
  image.height = height;
  image.rowStride = BMPRowStride(image.infoHeader.biBitCount, width);
  image.fileHeader.bfType = kBMPMagic;
  image.fileHeader.bfOffBits = kHeaderBytes;
  image.fileHeader.bfSize =
      Saturated32(rows > UINT64_MAX - kHeaderBytes ? rows : rows + kHeaderBytes);
  image.infoHeader.biSize = kInfoHeaderBytes;
  image.infoHeader.biWidth = width;
  image.infoHeader.biHeight = height;
  image.infoHeader.biCompression = kCompressionNone;
  image.infoHeader.biSizeImage = Saturated32(rows);
  return image.rowStride != 0 && height >= 1 && height <= INT32_MAX / image.rowStride ? 1 : 0;
}

int DescribeBMP(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel) {
  image.fileHeader = BMPFileHeader{};
  image.infoHeader = BMPInfoHeader{};
  image.infoHeader.biPlanes = 1;
  image.infoHeader.biBitCount = static_cast<uint16_t>(bytesPerPixel * 8);
  image.infoHeader.biXPelsPerMeter = kPixelsPerMetre;
  image.infoHeader.biYPelsPerMeter = kPixelsPerMetre;
  image.bytesPerPixel = bytesPerPixel;
  return SetPlainBMPLayout(image, width, height);
}

}  // namespace bmpface
