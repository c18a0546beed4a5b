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

// The size a BMP file's header declares, from its first `size` bytes (the file header and at
// least the first 12 bytes of the info header): any depth, OS/2 headers too, the height's sign
// dropped. False when the bytes are too few or not a BMP.
bool DeclaredBMPSize(const uint8_t* head, size_t size, uint64_t& width, uint64_t& height);

// The bytes of a BMP file other than 24 or 32 bits that are worth reading, from its first `size`
// bytes: the headers, the palette and the pixel data its size and compression can need (for
// run-length data, generously more than any encoder writes). More is never looked at, so a small
// picture padded with gigabytes costs its own size. UINT64_MAX when the header cannot tell.
uint64_t OtherBMPBytesWorthReading(const uint8_t* head, size_t size);

// Fills the header fields of a top-down picture of `width` x `height` pixels of `bytesPerPixel`
// (3 or 4) bytes held with packed rows, as LoadBMP would for a 24- or 32-bit file of them.
void DescribePackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_BMP_OTHER_H_
