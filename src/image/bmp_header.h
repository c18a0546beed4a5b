// The BMP header: its 54 bytes as fields, and the decision whether a picture can be loaded.
// Pure functions over memory: no file, no allocation.
#ifndef BMPFACE_IMAGE_BMP_HEADER_H_
#define BMPFACE_IMAGE_BMP_HEADER_H_

#include <cstdint>

#include "image/bmp_image.h"

namespace bmpface {

// Unpacks / packs the 54 header bytes exactly as they stand in the file.
void UnpackBMPHeaders(const uint8_t (&bytes)[kHeaderBytes], BMPImage& image);
void PackBMPHeaders(const BMPImage& image, uint8_t (&bytes)[kHeaderBytes]);

// Bytes per row, fill included, for `bitCount` bits per pixel; 0 when width < 1 or the row size
// leaves the 32-bit signed range.
int32_t BMPRowStride(int32_t bitCount, int32_t width);

// Decides from the 54 header bytes (already unpacked into `image`) and the file's size whether the
// picture can be loaded, and sets the derived fields when it can. Refuses a depth other than 24 or
// 32, a width below 1, a height of 0 or -2^31, sizes beyond the 32-bit signed range, and a file too
// short to hold bfOffBits + height * rowStride bytes. Returns 1 or 0; obtains nothing.
int CheckBMPHeader(BMPImage& image, uint64_t fileSize);

}  // namespace bmpface

#endif  // BMPFACE_IMAGE_BMP_HEADER_H_
