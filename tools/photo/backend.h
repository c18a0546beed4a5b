// What the photo layer asks of libvips, as one table of functions. The libvips side lives in its
// own module (bmpface-vips.so), which the command loads only when a picture needs it: a BMP request
// never pays for loading libvips and its hundred libraries. Tests and the fuzzer link the same code
// directly. Both sides come from one build, so the table passes C++ types.
#ifndef BMPFACE_TOOLS_PHOTO_BACKEND_H_
#define BMPFACE_TOOLS_PHOTO_BACKEND_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "photo/format.h"

namespace bmpface::photo {

// Raised whenever the table or what it passes changes.
constexpr int kBackendAbi = 2;

using Allocate = void* (*)(size_t bytes);
using Release = void (*)(void* block);

struct DecodeRequest {
  bool orient = true;           // turn the picture upright by its orientation tag
  uint64_t maxPixels = 0;       // refuse larger pictures, from the header; 0: only the 32-bit
                                // bounds
  int descriptor = -1;          // read the picture from this open file instead of the bytes given
  int seconds = 0;              // give up decoding after this long; 0: no limit
  Allocate allocate = nullptr;  // for the pixels handed back
  Release release = nullptr;    // for those pixels when the decoding fails after all
};

// A decoded picture: 8-bit sRGB, BGR or BGRA, rows top-down and packed, upright unless asked not.
struct Decoded {
  uint8_t* pixels = nullptr;  // from DecodeRequest::allocate; null unless decode returned true
  int32_t width = 0;
  int32_t height = 0;
  int32_t bands = 0;         // 3 or 4
  bool alpha = false;        // the fourth band is alpha (always, when there are four)
  int orientation = 1;       // the orientation the picture declared (1 to 8)
  bool turned = false;       // pixels were turned upright
  std::string loader;        // the libvips loader that read it
  std::string conversion;    // how its colours became 8-bit sRGB; empty when they were
  std::vector<uint8_t> icc;  // the profile of the decoded pixels; empty for none
};

// Pixels to encode or resize: BGR or BGRA rows, top-down, `rowStride` bytes apart.
struct PixelsIn {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 3;
  size_t rowStride = 0;
  bool alpha = false;  // with 4 bytes a pixel: the fourth is alpha (otherwise it is dropped)
};

struct EncodeRequest {
  Format format = Format::kUnknown;  // any but kBMP and kUnknown
  int quality = 90;                  // lossy formats
  int32_t sizeW = 0;                 // resize to exactly sizeW x sizeH first; 0: keep the size
  int32_t sizeH = 0;
  const std::vector<uint8_t>* icc = nullptr;  // the profile to embed; null or empty for none
};

struct Backend {
  int abi;
  const char* build;  // the bmpface version it was built with
  // Starts libvips once: untrusted loaders blocked, `threads` workers (0: its default), no
  // operation cache. Safe to call again; the first call's settings stay. Call before threads start.
  bool (*start)(int threads, std::string& error);
  const char* (*libraryVersion)();
  // Each returns false with `error` saying why; nothing is left allocated then. `decode` reads
  // `request.descriptor` when it is set (`bytes` may then be null), else the `size` bytes given.
  bool (*decode)(const uint8_t* bytes, size_t size, const DecodeRequest& request, Decoded& out,
                 std::string& error);
  bool (*encode)(const PixelsIn& in, const EncodeRequest& request, std::vector<uint8_t>& bytes,
                 std::string& error);
  // Resizes to exactly width x height with a Lanczos filter; the result (BGR or BGRA as the input,
  // packed rows) comes from `allocate`.
  bool (*resize)(const PixelsIn& in, int32_t width, int32_t height, Allocate allocate,
                 uint8_t** out, std::string& error);
};

// The libvips side's table: defined by the module (and by the code the tests link).
const Backend* VipsBackend();

// The table this program uses: from the module, loaded on the first call (the command), or linked
// in (tests, fuzzer). Null with `error` saying why when there is none (a build without libvips, a
// module that is missing or from another build).
const Backend* LoadBackend(std::string& error);

}  // namespace bmpface::photo

// The module's one exported symbol.
extern "C" const bmpface::photo::Backend* bmpface_photo_backend();

#endif  // BMPFACE_TOOLS_PHOTO_BACKEND_H_
