// The command's pictures beyond the library's BMPs: reading any picture it can (JPEG, PNG, WebP,
// TIFF, GIF, HEIF through libvips; every BMP), upright and in 8-bit sRGB; framing the face; writing
// the crop in the format asked for. The library itself stays BMP-only: this layer hands it the
// pixels through the request's hooks, so detection is the library's own on those pixels.
//
// Use from a mode of the command:
//   PhotoRequest request{&options};
//   RequestHooks hooks = PhotoHooks(request);   // load, frame (and stop, for --detect)
//   RunRequest(input, output, &hooks, &rect);   // then request.error says why a step failed
// Batch writes the crop itself: EncodeCrop gives the file's bytes.
#ifndef BMPFACE_TOOLS_PHOTO_PHOTO_H_
#define BMPFACE_TOOLS_PHOTO_PHOTO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/request.h"
#include "image/bmp_image.h"
#include "image/crop.h"
#include "photo/format.h"
#include "photo/framing.h"
#include "photo/limits.h"

namespace bmpface::photo {

constexpr int kDefaultQuality = 90;

// What the shared options (AddPhotoOptions) ask for. The defaults change nothing the library does.
struct PhotoOptions {
  bool orient = true;                // --no-orient: keep the pixels as stored
  Format format = Format::kUnknown;  // --format; unknown: by the output's name, else the input's
  int quality = 0;                   // --quality 1..100 for lossy formats; 0: kDefaultQuality
  Framing framing;                   // --margin, --aspect, --size, --no-upscale, --frame
  bool verify = false;               // --verify: a face detector confirms the chosen region
  uint64_t maxPixels = kDefaultMaxPixels;  // --max-pixels: refuse pictures that declare more;
                                           // 0: only the library's 32-bit bounds
  int timeout = 0;                         // --timeout: seconds a picture may take to decode
                                           // (libvips formats); 0: no limit
};

// What loading found out about a picture.
struct PhotoInfo {
  Format format = Format::kUnknown;  // of the input, by its content
  std::string reader;                // "bmpface" (the library's reader), "bmpface-bmp" (other BMPs)
                                     // or the libvips loader
  int orientation = 1;               // the orientation the picture declared
  bool turned = false;               // its pixels were turned upright
  bool alpha = false;                // the fourth byte of a pixel is alpha (never for 32-bit BMPs)
  std::string conversion;            // how its colours became 8-bit sRGB; empty when they were
  std::vector<uint8_t> icc;          // the ICC profile of the loaded pixels; empty for none
};

// Whether this build has libvips, and whether the module could be loaded.
bool BuiltWithVips();
// For --version: "libvips 8.14.1: ..." or why not.
std::string PhotoSupport();

// Loads the libvips module and starts libvips with `threads` workers (0: libvips' default, one per
// core). Optional: the first picture that needs libvips starts it with the default. A process with
// several workers (batch -j N) calls it before they start, with 1. False (with `error`) when this
// build has no libvips or the module cannot be loaded or started.
bool StartPhotoLayer(int threads, std::string& error);

// Reads a picture held in memory by the same rules as LoadPhoto (24- and 32-bit BMPs through the
// library's LoadBMPFromMemory): the fuzzer's and the tests' way in.
int LoadPhotoFromMemory(const uint8_t* bytes, size_t size, const PhotoOptions& options,
                        BMPImage& image, PhotoInfo& info, std::string& error);

// Reads the picture at `path`: 24- and 32-bit BMPs through the library's LoadBMP (the pixels as
// the library holds them), other BMPs through bmpface's own reader, any other format through
// libvips. The file is opened without blocking and refused unless it is a regular file, before a
// byte is read; libvips gets the bytes, never the path. The pixels are upright (unless
// `options.orient` is false), 8-bit sRGB, BGR or BGRA, rows top-down, from PlatformMalloc (release
// with FreeBMP), the BMP header fields filled as for a 24- or 32-bit file of them. Returns 1, or 0
// with `error` saying why and no buffer left.
// A 24- or 32-bit BMP is read with `sink` seeing its rows (RunRequest's mask in the making).
int LoadPhoto(const char* path, const PhotoOptions& options, BMPImage& image, PhotoInfo& info,
              std::string& error, const RowSink* sink = nullptr);

// The format a crop written under `outputName` gets: --format, else the name's extension, else the
// input's format (BMP for a BMP input: any other name gives a BMP, as before). A build without
// libvips writes BMP whatever the name, as before.
Format OutputFormat(const std::string& outputName, const PhotoOptions& options,
                    const PhotoInfo& info);

// True when the library's own SaveBMP writes exactly the file EncodeCrop would: a BMP without
// --size. The single mode then leaves the save to the library.
bool LibraryWritesCrop(const std::string& outputName, const PhotoOptions& options,
                       const PhotoInfo& info);

// The file of `crop` (as ExtractFaceRegion made it from a loaded picture) in the output format,
// in memory: BMP in the library's own layout, other formats through libvips; resized to --size
// with a Lanczos filter; no metadata of the input but its ICC profile, no orientation tag but
// upright. False with `error` saying why.
bool EncodeCrop(const BMPImage& crop, const std::string& outputName, const PhotoOptions& options,
                const PhotoInfo& info, std::vector<uint8_t>& bytes, std::string& error);

// `crop` resized to `width` x `height` through libvips (Lanczos), `alpha` saying whether its fourth
// byte is alpha, in a buffer of the library's (release with FreeBMP). False with `error` saying
// why.
bool ResizeCrop(const BMPImage& crop, int32_t width, int32_t height, bool alpha, BMPImage& sized,
                std::string& error);

// Writes `bytes` as the file `path`, through the library's file layer, which cleans up a failed
// write without touching what it did not create (PlatformFinishWrite). False with `error` saying
// why.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// What --verify found, when it was asked.
struct FaceDecision {
  bool verified = false;  // the face detector found a face in the chosen region: `face`
  FaceRect face{};
};

// What every front door does with the search's choice: the rectangle `rect` the library made from
// the region `chosen`. With --verify the face detector must find a face in that region, else
// kFaceNotConfirmed (the request ends as unverified); then the framing, from the rectangle, the
// region or the verified face, in `rect`. Returns 1, or kFaceNotConfirmed.
int DecideFace(const BMPImage& source, const PhotoOptions& options, const SkinRegion& chosen,
               FaceRect& rect, FaceDecision& decision, std::string& error);

// One request through the photo layer: the hooks' context.
struct PhotoRequest {
  const PhotoOptions* options = nullptr;
  bool stopAfterFace = false;  // --detect, explain: end with the (framed) rectangle
  PhotoInfo info;
  FaceRect face{};        // the rectangle the search found, before framing
  SearchFacts facts{};    // the search's choice (PhotoHooks has the request fill it)
  bool verified = false;  // --verify found a face in the chosen region: `verifiedFace`
  FaceRect verifiedFace{};
  std::string error;  // why the load or the save failed
};

// The hooks for RunRequest with `request` as context: load through LoadPhoto; with --verify, end
// the request as unverified unless the face detector finds a face in the chosen region; frame the
// face (from the rectangle, the region or the verified face);
// stop there when asked; save through EncodeCrop and WriteFileBytes unless the library's SaveBMP
// writes the same file. `search` is left null for the caller.
RequestHooks PhotoHooks(PhotoRequest& request);

// The hooks one by one, for a caller that replaces some (batch saves through its own file).
int PhotoLoadHook(void* request, const char* input, BMPImage& image, const RowSink* sink);
int PhotoFaceHook(void* request, const BMPImage& source, FaceRect& rect);
int PhotoSaveHook(void* request, const char* output, const BMPImage& crop);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_PHOTO_H_
