// Taking metadata out of an encoded file: what libvips' savers write beyond the pixels and the ICC
// profile (its WebP saver keeps an EXIF block even when asked to strip, and its JPEG saver writes
// one whenever a profile is kept). Pure functions over the file's bytes.
#ifndef BMPFACE_TOOLS_PHOTO_METADATA_H_
#define BMPFACE_TOOLS_PHOTO_METADATA_H_

#include <cstdint>
#include <vector>

namespace bmpface::photo {

// Removes the EXIF and XMP segments (APP1), IPTC (APP13) and comments from a JPEG file; keeps
// JFIF, the ICC profile (APP2) and everything from the first scan on. Returns false and leaves
// `bytes` as it was when the markers before the scan do not parse.
bool StripJPEGMetadata(std::vector<uint8_t>& bytes);

// Removes the EXIF and XMP chunks of a WebP file and their flags in its VP8X chunk; keeps ICCP.
// Returns false and leaves `bytes` as it was when the chunks do not parse.
bool StripWebPMetadata(std::vector<uint8_t>& bytes);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_METADATA_H_
