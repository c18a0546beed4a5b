// The in-memory picture and the BMP reader and writer.
#ifndef BMPFACE_IMAGE_BMP_IMAGE_H_
#define BMPFACE_IMAGE_BMP_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/bmp_bytes.h"

namespace bmpface {

// The 14-byte file header. Fields hold the file's little-endian values; they are packed and
// unpacked byte by byte, so the host's byte order and alignment never matter.
struct BMPFileHeader {
  uint16_t bfType;
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
};

// The 40 bytes after the file header, taken as a BITMAPINFOHEADER whatever biSize declares.
struct BMPInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // > 0: bottom row first in the file; <= 0: top row first
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

// A picture with rows top-down in `pixels`. Pixel (x, y) starts at x * bytesPerPixel +
// y * rowStride and holds blue, green, red (and an unread fourth byte in 32-bit pictures).
// Filled by LoadBMP or ExtractFaceRegion; the owner releases `pixels` with FreeBMP.
struct BMPImage {
  BMPFileHeader fileHeader;
  BMPInfoHeader infoHeader;
  uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t bytesPerPixel;
  int32_t rowStride;
};

// Sees a picture's rows as LoadBMP reads them, while they are still in the cache: `start` once the
// pixel buffer is obtained, before any row is read, then `rows` for each slice of rows read (rows
// firstRow to firstRow + rowCount - 1, top-down numbers), in the file's order. Either may be null.
struct RowSink {
  void* context;
  void (*start)(void* context, const BMPImage& image);
  void (*rows)(void* context, const BMPImage& image, int32_t firstRow, int32_t rowCount);
};

// Reads a 24- or 32-bit BMP file. Returns 1 and fills `image` (release with FreeBMP); on 0 no
// pixel buffer is left allocated and `image` must not be released. `sink`, when given, sees the
// rows as they are read.
int LoadBMP(const char* path, BMPImage& image, const RowSink* sink = nullptr);

// LoadBMP on a file already open for reading (PlatformOpenRead), from its start, which must be
// its current position; the caller closes it.
int ReadBMP(std::FILE* file, BMPImage& image, const RowSink* sink = nullptr);

// Reads a BMP file held in memory, `size` bytes at `bytes`, by the same rules and through the same
// slices as LoadBMP, with `sink` seeing them alike.
int LoadBMPFromMemory(const uint8_t* bytes, size_t size, BMPImage& image,
                      const RowSink* sink = nullptr);

// Writes the 54 header bytes as `image` holds them, then the rows bottom row first. Returns 1 when
// every byte reached the file. On 0 nothing that looks whole is left, and nothing this call did not
// create is removed (PlatformFinishWrite): a new file is removed, an existing one (or a link's
// target) is emptied, a device is left alone.
int SaveBMP(const char* path, const BMPImage& image);

// The same bytes into a file already open for writing, from its current position; for callers
// that open their own files (the command's exclusive temporary files). Returns 1 when every write
// succeeded; closing and cleaning up stay with the caller.
int WriteBMP(std::FILE* file, const BMPImage& image);

// The size of the file WriteBMP writes for `image`: the 54 header bytes and height * rowStride;
// 0 when `image` cannot be written or its file would not fit in memory.
size_t BMPFileSize(const BMPImage& image);

// The same bytes into a caller's block of `capacity` bytes at `bytes`, so that the caller owns
// the buffer and decides what running out of memory means. Returns 1, or 0 (writing nothing) when
// the picture cannot be written or the block is smaller than BMPFileSize(image).
int WriteBMPToMemory(const BMPImage& image, uint8_t* bytes, size_t capacity);

// Releases the pixel buffer and nulls it; harmless on an image without one.
void FreeBMP(BMPImage& image);

// Address of pixel (x, y), or null when it lies outside the picture.
inline const uint8_t* PixelAt(const BMPImage& image, int32_t x, int32_t y) {
  if (x < 0 || x >= image.width || y < 0 || y >= image.height) return nullptr;
  return image.pixels + static_cast<ptrdiff_t>(x) * image.bytesPerPixel +
         static_cast<ptrdiff_t>(y) * image.rowStride;
}

inline uint8_t* PixelAt(BMPImage& image, int32_t x, int32_t y) {
  return const_cast<uint8_t*>(PixelAt(static_cast<const BMPImage&>(image), x, y));
}

}  // namespace bmpface

#endif  // BMPFACE_IMAGE_BMP_IMAGE_H_
