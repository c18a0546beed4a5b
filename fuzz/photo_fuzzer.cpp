// The command's decode path on the fuzzer's bytes: format by content, the library's BMP reader or
// bmpface's own, or libvips with the loaders in use (every other one refused), conversion to
// 8-bit sRGB and turning upright; then the request on the pixels (detect, frame, crop) and the
// crop encoded in memory. Checks that a picture is only ever read by the loader of its format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/request.h"
#include "photo/format.h"
#include "photo/photo.h"

namespace {

using bmpface::BMPImage;
using bmpface::FaceRect;
using namespace bmpface::photo;

// Larger pictures only cost time: the fuzzer is after the decoders' handling of their bytes.
constexpr uint64_t kMaxPixels = uint64_t{1} << 22;
constexpr int64_t kMaxCropPixels = int64_t{1} << 18;

struct Run {
  BMPImage image;  // decoded once, handed to the request
  PhotoOptions options;
  PhotoInfo info;
  Format output;
};

int TakeImage(void* context, const char*, BMPImage& image, const bmpface::RowSink*) {
  Run& run = *static_cast<Run*>(context);
  image = run.image;
  run.image.pixels = nullptr;  // the request releases it
  return 1;
}

int Frame(void* context, const BMPImage& source, FaceRect& rect) {
  const Run& run = *static_cast<const Run*>(context);
  rect = FrameFace(rect, source.width, source.height, run.options.framing);
  return int64_t{rect.width} * rect.height <= kMaxCropPixels ? 1 : 0;
}

int Encode(void* context, const char*, const BMPImage& crop) {
  const Run& run = *static_cast<const Run*>(context);
  std::vector<uint8_t> bytes;
  std::string error;
  const std::string name = std::string("crop") + FormatExtension(run.output);
  return EncodeCrop(crop, name, run.options, run.info, bytes, error) ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = [] {
    std::string error;
    return StartPhotoLayer(1, error);
  }();
  if (!started) std::abort();

  Run run{};
  run.options.maxPixels = kMaxPixels;
  // The last byte picks the framing and the output format, so every saver gets exercised.
  const uint8_t pick = size > 0 ? data[size - 1] : 0;
  run.options.orient = (pick & 1) == 0;
  run.options.framing.margin = (pick >> 1 & 3) * 0.25;
  if ((pick & 8) != 0) {
    run.options.framing.aspectW = 35;
    run.options.framing.aspectH = 45;
  }
  const Format outputs[] = {Format::kBMP,  Format::kPNG, Format::kJPEG, Format::kWebP,
                            Format::kTIFF, Format::kGIF, Format::kBMP,  Format::kPNG};
  run.output = outputs[pick >> 4 & 7];

  std::string error;
  if (LoadPhotoFromMemory(data, size, run.options, run.image, run.info, error) == 0) {
    if (run.image.pixels != nullptr || error.empty()) std::abort();
    return 0;
  }
  // Read by the library, by bmpface's BMP reader, or by the libvips loader of the format its
  // first bytes show: never by another loader.
  const Format format = SniffFormat(data, size);
  const bool ownReader = run.info.reader == "bmpface" || run.info.reader == "bmpface-bmp";
  if ((ownReader && format != Format::kBMP) ||
      (!ownReader && !IsLoaderInUse(run.info.reader.c_str(), format))) {
    std::abort();
  }
  const BMPImage& image = run.image;
  if (image.width < 1 || image.height < 1 ||
      (image.bytesPerPixel != 3 && image.bytesPerPixel != 4) ||
      image.rowStride < image.width * image.bytesPerPixel ||
      static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height) > kMaxPixels) {
    std::abort();
  }
  bmpface::RequestHooks hooks{};
  hooks.context = &run;
  hooks.load = TakeImage;
  hooks.face = Frame;
  hooks.save = Encode;
  bmpface::RunRequest(nullptr, "crop", &hooks, nullptr);
  FreeBMP(run.image);  // when the request did not take it
  return 0;
}
