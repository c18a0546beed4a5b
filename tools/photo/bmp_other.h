// The BMP pictures the library's own reader refuses: 1, 2, 4 and 8 bits a pixel with a palette
// (also run-length encoded, RLE8 and RLE4), 16 bits a pixel (5-5-5, or bit fields with or without
// alpha), OS/2 headers. A pure function over the file's bytes, so the tests and the fuzzer reach it
// without files. 24- and 32-bit pictures are never decoded here: the library reads them.
#ifndef BMPFACE_TOOLS_PHOTO_BMP_OTHER_H_
#define BMPFACE_TOOLS_PHOTO_BMP_OTHER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/bmp_image.h"

namespace bmpface::photo {

// Decodes the `size` bytes of a BMP file at `bytes` into `image`: BGR, or BGRA when the picture
// has an alpha mask, rows top-down and packed, headers filled as for a 24- or 32-bit BMP of those
// pixels. Pixels a run-length picture leaves unset take palette entry 0; an index beyond the
// palette is black. Refuses (0, with `error` saying why, no buffer left) other depths and
// compressions, a header or palette beyond the file, uncompressed rows beyond the file, run-length
// data that ends before its end-of-picture mark, and pictures of more than `maxPixels` pixels or
// whose rows leave the 32-bit range. On 1, `alpha` tells whether the fourth byte is alpha; the
// pixels come from PlatformMalloc (release with FreeBMP).
int DecodeOtherBMP(const uint8_t* bytes, size_t size, uint64_t maxPixels, BMPImage& image,
                   bool& alpha, std::string& error);

// Fills the header fields of a top-down picture of `width` x `height` pixels of `bytesPerPixel`
// (3 or 4) bytes held with packed rows, as LoadBMP would for a 24- or 32-bit file of them.
void DescribePackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_BMP_OTHER_H_
