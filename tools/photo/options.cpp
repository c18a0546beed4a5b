#include "photo/options.h"

#include <string>

namespace bmpface::photo {

void AddPhotoOptions(CLI::App& app, PhotoOptions& options, unsigned which) {
  if ((which & kOrientOption) != 0) {
    app.add_flag_callback(
        "--no-orient", [&options] { options.orient = false; },
        "keep the pixels as stored: do not turn the picture upright by its EXIF orientation");
  }
  if ((which & kFramingOptions) != 0) {
    app.add_option("--margin", options.framing.margin,
                   "add F times the face rectangle's width (height) on the left and right (top "
                   "and bottom), within the picture")
        ->type_name("F")
        ->check(CLI::Range(0.0, kMaxMargin));
    app.add_option_function<std::string>(
           "--aspect",
           [&options](const std::string& text) {
             if (!ParsePair(text, ':', kMaxAspectTerm, options.framing.aspectW,
                            options.framing.aspectH)) {
               throw CLI::ValidationError("--aspect", "expected W:H, such as 35:45");
             }
           },
           "grow the crop's shorter side to this aspect, about its centre, within the picture")
        ->type_name("W:H");
    app.add_option_function<std::string>(
           "--size",
           [&options](const std::string& text) {
             if (!ParsePair(text, 'x', kMaxSide, options.framing.sizeW, options.framing.sizeH)) {
               throw CLI::ValidationError("--size", "expected WxH, such as 413x531");
             }
             if (!BuiltWithVips()) {
               throw CLI::ValidationError("--size", "needs libvips; this bmpface has none");
             }
           },
           "resize the crop to exactly W x H pixels (Lanczos); implies --aspect W:H")
        ->type_name("WxH");
  }
  if ((which & kOutputOptions) != 0) {
    app.add_option_function<std::string>(
           "--format",
           [&options](const std::string& word) {
             options.format = FormatOfWord(word);
             if (options.format == Format::kUnknown) {
               throw CLI::ValidationError("--format",
                                          "expected bmp, jpg, png, webp, tif, gif, heic or avif");
             }
             if (NeedsVips(options.format) && !BuiltWithVips()) {
               throw CLI::ValidationError("--format", "only bmp: this bmpface has no libvips");
             }
           },
           "write the crop in this format whatever the output's name: bmp, jpg, png, webp, tif, "
           "gif, heic, avif (default: by the name's extension, else the input's format)")
        ->type_name("FORMAT");
    app.add_option("--quality", options.quality,
                   "quality of lossy formats (JPEG, WebP, HEIF, AVIF), 1 to 100 (default 90)")
        ->type_name("Q")
        ->check(CLI::Range(1, 100));
  }
}

}  // namespace bmpface::photo
