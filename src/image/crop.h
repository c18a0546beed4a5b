// The crop that builds the output picture from a rectangle of the source.
#ifndef BMPFACE_IMAGE_CROP_H_
#define BMPFACE_IMAGE_CROP_H_

#include <cstdint>

#include "image/bmp_image.h"

namespace bmpface {

// A rectangle in picture coordinates: top-left corner (column, row from the top) and size.
struct FaceRect {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// Fills `output` with the pixels of `rect` in `source` (zero where the rectangle leaves the source)
// and headers derived from the source's, written as a plain 54-byte-header, uncompressed,
// bottom-up BMP of the source's depth. Returns 1 (release with FreeBMP); on 0 `output.pixels` is
// null. Refuses a rectangle without area or one whose size leaves the 32-bit range.
int ExtractFaceRegion(const BMPImage& source, const FaceRect& rect, BMPImage& output);

}  // namespace bmpface

#endif  // BMPFACE_IMAGE_CROP_H_
