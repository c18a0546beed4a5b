#include "photo/options.h"

#include <charconv>
#include <string>

#include "photo/verify.h"

namespace bmpface::photo {
namespace {

// The whole of `text` as a decimal number within [min, max], or a ValidationError naming `name`.
template <typename T>
T ParseWhole(const std::string& name, const std::string& text, T min, T max) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [at, failed] = std::from_chars(text.data(), end, value);
  const bool digitsOnly = at == end;  // from_chars takes no sign but '-', and no spaces
  if (failed == std::errc::invalid_argument || (failed == std::errc{} && !digitsOnly)) {
    throw CLI::ValidationError(name, "not a whole number: '" + text + "'");
  }
  if (failed != std::errc{} || value < min || value > max) {
    throw CLI::ValidationError(
        name, "'" + text + "' is not from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value;
}

template <typename T>
CLI::Option* AddWhole(CLI::App& app, const std::string& name, T& value, T min, T max,
                      const std::string& description) {
  const std::string shown = name.substr(name.rfind(',') + 1);  // the long name
  return app
      .add_option_function<std::string>(
          name,
          [&value, shown, min, max](const std::string& text) {
            value = ParseWhole<T>(shown, text, min, max);
          },
          description)
      ->type_name("N");
}

}  // namespace

CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, int& value, int min, int max,
                            const std::string& description) {
  return AddWhole(app, name, value, min, max, description);
}

CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, uint64_t& value, uint64_t min,
                            uint64_t max, const std::string& description) {
  return AddWhole(app, name, value, min, max, description);
}

void CheckOutputSize(const PhotoOptions& options, Format format) {
  const Framing& f = options.framing;
  if (f.sizeW == 0) return;
  if (!WithinPixelLimit(static_cast<uint64_t>(f.sizeW), static_cast<uint64_t>(f.sizeH),
                        options.maxPixels)) {
    throw CLI::ValidationError("--size", std::to_string(f.sizeW) + "x" + std::to_string(f.sizeH) +
                                             " is over the limit of " +
                                             std::to_string(options.maxPixels) +
                                             " pixels (--max-pixels N raises it, 0 for none)");
  }
  const uint32_t side = MaxSide(format);
  if (side != 0 &&
      (static_cast<uint32_t>(f.sizeW) > side || static_cast<uint32_t>(f.sizeH) > side)) {
    throw CLI::ValidationError("--size", std::string(FormatName(format)) + " holds at most " +
                                             std::to_string(side) + " pixels a side");
  }
}

namespace {

// --max-pixels and --timeout: every front door of pictures has them.
void AddLimitOptions(CLI::App& app, PhotoOptions& options) {
  AddWholeNumber(app, "--max-pixels", options.maxPixels, 0, kMaxPixelsOption,
                 "refuse pictures (and --size outputs) of more than N pixels, from their header, "
                 "before decoding; 0 for no limit (default " +
                     std::to_string(kDefaultMaxPixels) + ")");
  AddWholeNumber(app, "--timeout", options.timeout, 0, kMaxTimeout,
                 "give up on a picture whose decoding takes more than S seconds (JPEG, PNG, "
                 "WebP, TIFF, GIF, HEIF); 0 for no limit (the default)")
      ->type_name("S");
}

// --margin (and one side's), --aspect, --size, --no-upscale.
void AddFramingOptions(CLI::App& app, PhotoOptions& options) {
  Margins& margins = options.framing.margin;
  app.add_option_function<std::string>(
         "--margin",
         [&margins](const std::string& text) {
           std::string error;
           if (!ParseMargins(text, margins, error)) throw CLI::ValidationError("--margin", error);
         },
         "add F times the rectangle's width (height) on the left and right (top and bottom), "
         "within the picture; or T,R,B,L: a share for each side, top, right, bottom, left")
      ->type_name("F|T,R,B,L");
  // A side's own option wins over --margin: its callback runs after (in the order added).
  const struct {
    const char* name;
    double Margins::*side;
    const char* help;
  } sides[] = {{"--margin-top", &Margins::top, "add F times the rectangle's height above it"},
               {"--margin-right", &Margins::right, "add F times its width on the right"},
               {"--margin-bottom", &Margins::bottom, "add F times its height below it"},
               {"--margin-left", &Margins::left, "add F times its width on the left"}};
  for (const auto& side : sides) {
    app.add_option_function<std::string>(
           side.name,
           [&margins, side = side.side, name = side.name](const std::string& text) {
             std::string error;
             if (!ParseMargin(text, margins.*side, error)) {
               throw CLI::ValidationError(name, error);
             }
           },
           side.help)
        ->type_name("F");
  }
  CLI::Option* aspect =
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
         "resize the crop to exactly W x H pixels (Lanczos); its aspect is W:H, so it "
         "cannot be given with --aspect")
      ->type_name("WxH")
      ->excludes(aspect);
  app.add_flag("--no-upscale", options.framing.noUpscale,
               "with --size: never enlarge the crop; a smaller crop is written at the largest "
               "size of W:H it holds");
}

// --verify and --frame.
void AddVerifyOptions(CLI::App& app, PhotoOptions& options) {
  app.add_flag_callback(
      "--verify",
      [&options] {
        std::string error;
        if (!VerifierAvailable(error)) throw CLI::ValidationError("--verify", error);
        options.verify = true;
      },
      "confirm the chosen region with a face detector: a region without a frontal face ends "
      "as 'unverified' (one picture's exit status 5; batch copies it to --reject)");
  app.add_option_function<std::string>(
         "--frame",
         [&options](const std::string& word) {
           if (!FrameFromWord(word, options.framing.from)) {
             throw CLI::ValidationError("--frame", "expected rule, region or face");
           }
           if (options.framing.from == FrameFrom::kFace && !options.verify) {
             throw CLI::ValidationError("--frame", "face needs --verify");
           }
         },
         "frame from: rule (the face rectangle, default), region (the chosen skin region's "
         "box) or face (the face --verify found); margins, aspect and size apply after")
      ->type_name("rule|region|face");
}

// --format and --quality.
void AddOutputOptions(CLI::App& app, PhotoOptions& options) {
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
  AddWholeNumber(app, "--quality", options.quality, 1, 100,
                 "quality of lossy formats (JPEG, WebP, HEIF, AVIF), 1 to 100 (default 90)")
      ->type_name("Q");
}

}  // namespace

void AddPhotoOptions(CLI::App& app, PhotoOptions& options, unsigned which) {
  AddLimitOptions(app, options);
  if ((which & kOrientOption) != 0) {
    app.add_flag_callback(
        "--no-orient", [&options] { options.orient = false; },
        "keep the pixels as stored: do not turn the picture upright by its EXIF orientation");
  }
  if ((which & kFramingOptions) != 0) AddFramingOptions(app, options);
  if ((which & kVerifyOptions) != 0) AddVerifyOptions(app, options);
  if ((which & kOutputOptions) != 0) AddOutputOptions(app, options);
}

}  // namespace bmpface::photo
