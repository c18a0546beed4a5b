// The BMP header: its 54 bytes as fields, the decision whether a picture can be loaded, and the
// headers of the plain files the library and the tools write. Pure functions over memory: no
// file, no allocation.
#ifndef BMPFACE_IMAGE_BMP_HEADER_H_
#define BMPFACE_IMAGE_BMP_HEADER_H_

#include <cstdint>

#include "image/bmp_image.h"

namespace bmpface {

// Unpacks / packs the 54 header bytes exactly as they stand in the file.
void UnpackBMPHeaders(const uint8_t (&bytes)[kHeaderBytes], BMPImage& image);
void PackBMPHeaders(const BMPImage& image, uint8_t (&bytes)[kHeaderBytes]);

// Bytes per row of a BMP file, fill included, for `bitCount` bits per pixel: each row holds a
// whole number of 32-bit words. UINT64_MAX when the product leaves 64 bits.
uint64_t BMPRowBytes(uint64_t bitCount, uint64_t width);

// BMPRowBytes as a picture's row stride: 0 when width < 1 or the row's size in bits leaves the
// 32-bit signed range.
int32_t BMPRowStride(int32_t bitCount, int32_t width);

// Decides from the 54 header bytes (already unpacked into `image`) and the file's size whether the
// picture can be loaded, and sets the derived fields when it can. Refuses a depth other than 24 or
// 32, a width below 1, a height of 0 or -2^31, sizes beyond the 32-bit signed range, and a file too
// short to hold bfOffBits + height * rowStride bytes. Returns 1 or 0; obtains nothing.
int CheckBMPHeader(BMPImage& image, uint64_t fileSize);

// Makes the headers of `image` those of a plain file of `width` x `height` pixels at its
// biBitCount: the 54-byte header, then uncompressed rows bottom row first. Sets the sizes, the
// offset, biSize and biCompression, and image.width, image.height and image.rowStride (the file's
// row); keeps every other field (depth, resolution, colour counts) as the headers hold it. Sizes
// beyond the 32-bit fields are held as UINT32_MAX. Returns 1 when the rows fit the library's
// 32-bit signed sizes (width and height at least 1), else 0.
int SetPlainBMPLayout(BMPImage& image, int32_t width, int32_t height);

// The headers and fields of a new plain file of `width` x `height` pixels of `bytesPerPixel`
// (3 or 4) bytes, as SetPlainBMPLayout lays it out, at kPixelsPerMetre, with no palette. Returns
// as SetPlainBMPLayout does; `image.pixels` is left alone.
int DescribeBMP(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel);

}  // namespace bmpface

#endif  // BMPFACE_IMAGE_BMP_HEADER_H_
