// Picture formats: what a file holds (by its first bytes) and what a name or a --format word asks
// for. Pure functions over bytes and names.
#ifndef BMPFACE_TOOLS_PHOTO_FORMAT_H_
#define BMPFACE_TOOLS_PHOTO_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace bmpface::photo {

enum class Format { kUnknown, kBMP, kJPEG, kPNG, kWebP, kTIFF, kGIF, kHEIF, kAVIF };

// Bytes enough for SniffFormat to decide.
constexpr size_t kSniffBytes = 32;

// The format of a file from its first `size` bytes (up to kSniffBytes are looked at).
Format SniffFormat(const uint8_t* head, size_t size);

// The format an output name asks for by its extension (case-insensitive): .bmp, .jpg, .jpeg, .jpe,
// .png, .webp, .tif, .tiff, .gif, .heic, .heif, .avif. kUnknown for any other name.
Format FormatOfName(const std::string& name);

// The format of a --format word (the extensions above without the dot); kUnknown for others.
Format FormatOfWord(const std::string& word);

// "JPEG", "PNG", ...; the usual extension, with its dot.
const char* FormatName(Format format);
const char* FormatExtension(Format format);
const char* FormatMediaType(Format format);  // "image/jpeg", ...

// The widest or tallest picture a file of `format` can hold, as its encoder here allows: libjpeg's
// 65,500, WebP's 16,383, GIF's 16-bit sides; 0 where the 32-bit sizes are the only bound.
uint32_t MaxSide(Format format);

// Formats only libvips reads and writes (all but BMP).
inline bool NeedsVips(Format format) {
  return format != Format::kBMP && format != Format::kUnknown;
}

// Whether `loader` (a libvips loader's type name) is the one bmpface uses for `format`: JPEG, PNG,
// WebP, TIFF, GIF and HEIF/AVIF each have one; every other loader is refused.
bool IsLoaderInUse(const char* loader, Format format);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_FORMAT_H_
