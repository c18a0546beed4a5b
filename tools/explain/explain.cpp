// bmpface explain: a picture of how the face rectangle was chosen.
//
// The request runs once, through the library's own request function with the photo layer's hooks:
// the canvas is drawn from the mask the search built on the upright pixels, the regions are those
// the search walked, with the tests and scores it gave them, and the rectangles are the ones a
// crop would use. Nothing is computed again here.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>
#ifdef BMPFACE_HAVE_PNG
#include <png.h>
#endif

#include "api/request.h"
#include "command.h"
#include "explain/draw.h"
#include "explain/explain.h"
#include "files.h"
#include "image/bmp_header.h"
#include "photo/backend.h"
#include "photo/options.h"
#include "photo/photo.h"
#include "platform/platform.h"

namespace bmpface::cli {
namespace {

constexpr RGB kSkinTint{0, 190, 255};
constexpr RGB kCandidate{40, 230, 40};
constexpr RGB kRejected{255, 50, 50};
constexpr RGB kFaceRect{255, 215, 0};
constexpr RGB kCropRect{255, 60, 255};
constexpr RGB kText{255, 255, 255};
constexpr RGB kTextBack{0, 0, 0};
constexpr RGB kLegendBack{28, 28, 28};

// A small picture is drawn enlarged, whole pixels to a block, until its longer side has this many.
constexpr int32_t kMinLongSide = 480;

// Why a region is not a face, by CandidateTest: on the picture, and in words.
constexpr const char* kFailureLabel[8] = {"",        "1 W<30",   "2 H<30",     "3 W>0.9",
                                          "4 H>0.9", "5 ASPECT", "6 FILL<0.3", "7 LOW"};
constexpr const char* kFailureText[8] = {"",
                                         "narrower than 30 pixels",
                                         "shorter than 30 pixels",
                                         "wider than 0.9 of the picture",
                                         "taller than 0.9 of the picture",
                                         "aspect outside 0.5 to 2",
                                         "less than 0.3 full",
                                         "centre in the lowest 30 % of the picture"};
constexpr const char* kLegendTest[8] = {"",
                                        "1 W<30: NARROWER THAN 30 PX",
                                        "2 H<30: SHORTER THAN 30 PX",
                                        "3 W>0.9: WIDER THAN 0.9 OF PICTURE",
                                        "4 H>0.9: TALLER THAN 0.9 OF PICTURE",
                                        "5 ASPECT: W/H OUTSIDE 0.5 TO 2",
                                        "6 FILL<0.3: LESS THAN 0.3 FULL",
                                        "7 LOW: CENTRE IN LOWEST 30 %"};

// What the request showed of its search.
struct Seen {
  Canvas canvas;
  bool canvasMade = false;
  std::vector<RegionSeen> regions;  // those of at least 30 x 30 pixels, in scan order
  SearchEnd end = SearchEnd::kNone;
  bool outOfMemory = false;  // for the canvas or the list of regions
};

// The picture dimmed to two fifths, its skin pixels tinted.
void DrawMask(void* context, const BMPImage& image, SkinMaskView mask) {
  Seen& seen = *static_cast<Seen*>(context);
  const int32_t width = image.width, height = image.height;
  try {
    seen.canvas =
        Canvas{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  } catch (const std::bad_alloc&) {
    seen.outOfMemory = true;
    return;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = PixelAt(image, x, y);
      RGB c{static_cast<uint8_t>(p[2] * 2 / 5), static_cast<uint8_t>(p[1] * 2 / 5),
            static_cast<uint8_t>(p[0] * 2 / 5)};
      if (mask[y][x] != 0) {
        // Two fifths tint: the features under the mask stay readable.
        c = {static_cast<uint8_t>((3 * c.r + 2 * kSkinTint.r) / 5),
             static_cast<uint8_t>((3 * c.g + 2 * kSkinTint.g) / 5),
             static_cast<uint8_t>((3 * c.b + 2 * kSkinTint.b) / 5)};
      }
      seen.canvas.Set(x, y, c);
    }
  }
  seen.canvasMade = true;
}

void KeepRegion(void* context, const RegionSeen& region) {
  Seen& seen = *static_cast<Seen*>(context);
  if (region.failed == CandidateTest::kNarrow || region.failed == CandidateTest::kShort) return;
  try {
    seen.regions.push_back(region);
  } catch (const std::bad_alloc&) {
    seen.outOfMemory = true;
  }
}

void KeepEnd(void* context, SearchEnd end) { static_cast<Seen*>(context)->end = end; }

// Through the library's BMP writer: 24 bits, bottom-up, the plain 54-byte header.
bool WriteBMP(const std::string& path, const Canvas& canvas, std::string& error) {
  BMPImage image{};
  DescribeBMP(image, canvas.width, canvas.height, 3);
  const uint64_t size = static_cast<uint64_t>(image.rowStride) * canvas.height;
  if (image.rowStride == 0 || size + kHeaderBytes > UINT32_MAX) {
    error = "the drawing is too large for a BMP file (4 GB at most): write a .png or .jpg";
    return false;
  }
  std::vector<uint8_t> pixels;
  try {
    pixels.assign(size, 0);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  for (int32_t y = 0; y < canvas.height; ++y) {
    for (int32_t x = 0; x < canvas.width; ++x) {
      const uint8_t* from = &canvas.rgb[(static_cast<size_t>(y) * canvas.width + x) * 3];
      uint8_t* to = &pixels[static_cast<size_t>(y) * image.rowStride + static_cast<size_t>(x) * 3];
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  image.pixels = pixels.data();
  errno = 0;
  if (SaveBMP(path.c_str(), image) == 1) return true;
  error = errno != 0 ? std::strerror(errno) : "cannot write the file";
  return false;
}

}  // namespace

bool EncodeDrawing(Canvas& canvas, photo::Format format, std::vector<uint8_t>& bytes,
                   std::string& error) {
#if defined(BMPFACE_HAVE_VIPS)
  const photo::Backend* backend = photo::LoadBackend(error);
  if (backend == nullptr) return false;
  for (size_t i = 0; i + 2 < canvas.rgb.size(); i += 3) std::swap(canvas.rgb[i], canvas.rgb[i + 2]);
  photo::PixelsIn in;
  in.pixels = canvas.rgb.data();
  in.width = canvas.width;
  in.height = canvas.height;
  in.bytesPerPixel = 3;
  in.rowStride = static_cast<size_t>(canvas.width) * 3;
  photo::EncodeRequest request;
  request.format = format;
  request.quality = photo::kDefaultQuality;
  return backend->encode(in, request, bytes, error);
#elif defined(BMPFACE_HAVE_PNG)
  (void)format;
  (void)error;  // libpng says nothing worth passing on
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(canvas.width);
  image.height = static_cast<png_uint_32>(canvas.height);
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, canvas.rgb.data(), 0, nullptr) == 0) {
    return false;
  }
  bytes.assign(size, 0);
  const int encoded =
      png_image_write_to_memory(&image, bytes.data(), &size, 0, canvas.rgb.data(), 0, nullptr);
  png_image_free(&image);
  bytes.resize(size);
  return encoded != 0;
#else
  (void)canvas;
  (void)format;
  (void)bytes;
  error = "this bmpface has neither libvips nor libpng";
  return false;
#endif
}

namespace {

std::string Rect4(int32_t x, int32_t y, int32_t w, int32_t h) {
  return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
         std::to_string(h);
}

std::string Rect4(const FaceRect& r) { return Rect4(r.x, r.y, r.width, r.height); }

// One line of the legend: a colour swatch (or none) and words.
struct LegendEntry {
  bool swatch;
  RGB colour;
  std::string text;
};

// The explanation: the picture part (enlarged k times), the outlines and labels on it, the legend
// below it.
class Drawing {
 public:
  Drawing(const Canvas& picture, int32_t k) : k_(k) {
    pictureW_ = picture.width * k;
    pictureH_ = picture.height * k;
    scale_ = std::max<int32_t>(2, (std::max(pictureW_, pictureH_) + 799) / 800);
    thin_ = (scale_ + 1) / 2;
    bold_ = 3 * thin_;
  }

  int32_t scale() const { return scale_; }

  // Lays the legend out under the picture and makes the canvas, the picture enlarged into it.
  // `picture` is released as it is copied.
  bool Make(Canvas& picture, const std::vector<LegendEntry>& legend) {
    const int32_t s = scale_, pad = 3 * s, line = 11 * s, swatch = 7 * s;
    int32_t widest = 0;
    for (const LegendEntry& e : legend) {
      const Box text = TextBox(0, 0, e.text, s);
      widest = std::max(widest, swatch + 3 * s + (text.x1 - text.x0 + 1));
    }
    const int32_t column = widest + 4 * s;
    width_ = std::max(pictureW_, column + 2 * pad);
    const int32_t columns = std::max<int32_t>(1, (width_ - 2 * pad) / column);
    const int32_t count = static_cast<int32_t>(legend.size());
    const int32_t rows = (count + columns - 1) / columns;
    const int64_t height = int64_t{pictureH_} + rows * line + 2 * pad;
    if (static_cast<uint64_t>(width_) * static_cast<uint64_t>(height) * 3 > SIZE_MAX / 2 ||
        height > INT32_MAX) {
      return false;
    }
    try {
      if (k_ == 1 && width_ == picture.width) {
        // The picture's own rows stay where they are; the legend's rows follow them.
        out_ = std::move(picture);
        out_.rgb.resize(static_cast<size_t>(width_) * static_cast<size_t>(height) * 3);
        out_.height = static_cast<int32_t>(height);
        out_.Fill(0, pictureH_, width_ - 1, out_.height - 1, kLegendBack);
      } else {
        out_ = Canvas{width_, static_cast<int32_t>(height),
                      std::vector<uint8_t>(static_cast<size_t>(width_) * height * 3)};
        out_.Fill(0, 0, width_ - 1, out_.height - 1, kLegendBack);
        for (int32_t y = 0; y < pictureH_; ++y) {
          const uint8_t* from = &picture.rgb[static_cast<size_t>(y / k_) * picture.width * 3];
          uint8_t* to = &out_.rgb[static_cast<size_t>(y) * width_ * 3];
          for (int32_t x = 0; x < pictureW_; ++x) std::memcpy(to + x * 3, from + (x / k_) * 3, 3);
        }
        picture = Canvas{};
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const LegendEntry& e = legend[static_cast<size_t>(i)];
      const int32_t x = pad + (i / rows) * column, y = pictureH_ + pad + (i % rows) * line;
      int32_t textX = x;
      if (e.swatch) {
        out_.Fill(x, y, x + swatch - 1, y + swatch - 1, e.colour);
        textX += swatch + 3 * s;
      }
      out_.Text(textX, y, e.text, s, kText, kLegendBack);
    }
    return true;
  }

  // The picture's pixel box (inclusive, in picture pixels) on the canvas.
  Box Scaled(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    return {x0 * k_, y0 * k_, (x1 + 1) * k_ - 1, (y1 + 1) * k_ - 1};
  }
  Box Scaled(const FaceRect& r) const {
    return Scaled(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
  }

  void Outline(const Box& b, bool bold, RGB colour) {
    out_.Outline(b.x0, b.y0, b.x1, b.y1, bold ? bold_ : thin_, colour);
  }

  // Labels at their anchors where there is room, none over another. Returns how many had none.
  size_t Labels(const std::vector<std::pair<Box, std::string>>& labels) {
    std::vector<LabelRequest> requests;
    for (const auto& [anchor, text] : labels) {
      const Box box = TextBox(0, 0, text, scale_);
      requests.push_back({anchor, box.x1 - box.x0 + 1, box.y1 - box.y0 + 1, bold_ + scale_});
    }
    const std::vector<Box> placed = PlaceLabels(requests, {0, 0, pictureW_ - 1, pictureH_ - 1});
    size_t missing = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
      if (placed[i].Empty()) {
        ++missing;
        continue;
      }
      out_.Text(placed[i].x0 + scale_, placed[i].y0 + scale_, labels[i].second, scale_, kText,
                kTextBack);
    }
    return missing;
  }

  Canvas& canvas() { return out_; }

 private:
  int32_t k_;
  int32_t pictureW_ = 0, pictureH_ = 0, width_ = 0;
  int32_t scale_ = 2, thin_ = 1, bold_ = 3;
  Canvas out_;
};

}  // namespace

Explanation DrawExplanation(const std::string& name, RequestHooks hooks,
                            photo::PhotoRequest& request) {
  Explanation out;
  Seen seen;
  const SearchVisitor visitor{&seen, DrawMask, KeepRegion, KeepEnd};
  const photo::PhotoOptions& options = *request.options;
  request.stopAfterFace = true;
  hooks.search = &visitor;
  FaceRect crop{};
  const Outcome outcome = RunRequest(name.c_str(), nullptr, &hooks, &crop);
  out.outcome = outcome;
  if (outcome == Outcome::kLoadFailed) return out;
  out.outcome = Outcome::kExtractFailed;  // out of memory, until drawn
  if (seen.end == SearchEnd::kNoMemory || seen.outOfMemory || !seen.canvasMade) return out;
  const bool found = outcome == Outcome::kFaceFound;
  const bool framed = found && options.framing.Any();
  const FaceRect face = request.face;

  const int32_t longSide = std::max(seen.canvas.width, seen.canvas.height);
  const int32_t k = std::max<int32_t>(1, (kMinLongSide + longSide - 1) / longSide);
  Drawing drawing(seen.canvas, k);

  std::string text = name + ": " + (found ? "face " + Rect4(face) : std::string("no face"));
  if (framed) text += ", crop " + Rect4(crop);
  text += "\n";
  if (request.info.turned) {
    text +=
        "  turned upright from EXIF orientation " + std::to_string(request.info.orientation) + "\n";
  }
  if (!request.info.conversion.empty()) text += "  colours: " + request.info.conversion + "\n";

  std::vector<LegendEntry> legend;
  legend.push_back({false, {}, found ? "FACE " + Rect4(face) : std::string("NO FACE")});
  if (framed) legend.push_back({false, {}, "CROP " + Rect4(crop)});
  legend.push_back({false, {}, std::to_string(seen.regions.size()) + " REGIONS 30X30 OR MORE"});
  legend.push_back({true, kFaceRect, "FACE RECTANGLE"});
  if (framed) legend.push_back({true, kCropRect, "CROP, FRAMED"});
  legend.push_back({true, kCandidate, "CANDIDATE: SCORE (BEST: CHOSEN)"});
  legend.push_back({true, kRejected, "REJECTED: FIRST TEST FAILED"});
  legend.push_back({true, kSkinTint, "SKIN"});
  for (int test = 1; test <= 7; ++test) legend.push_back({false, {}, kLegendTest[test]});
  if (!drawing.Make(seen.canvas, legend)) return out;

  // The winner is the last region that took the lead.
  size_t chosen = seen.regions.size();
  for (size_t i = 0; i < seen.regions.size(); ++i) {
    if (seen.regions[i].leads != 0) chosen = i;
  }
  // Labels: the chosen region's first, then candidates, then the rest by size.
  std::vector<size_t> order;
  for (size_t i = 0; i < seen.regions.size(); ++i) order.push_back(i);
  const auto area = [&](size_t i) {
    const SkinRegion& r = seen.regions[i].region;
    return int64_t{r.maxX - r.minX + 1} * (r.maxY - r.minY + 1);
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const int rankA = a == chosen ? 0 : seen.regions[a].failed == CandidateTest::kNone ? 1 : 2;
    const int rankB = b == chosen ? 0 : seen.regions[b].failed == CandidateTest::kNone ? 1 : 2;
    return rankA != rankB ? rankA < rankB : area(a) > area(b);
  });
  std::vector<std::pair<Box, std::string>> labels;
  for (const size_t i : order) {
    const SkinRegion& r = seen.regions[i].region;
    const int failure = static_cast<int>(seen.regions[i].failed);
    const Box box = drawing.Scaled(r.minX, r.minY, r.maxX, r.maxY);
    drawing.Outline(box, i == chosen, failure == 0 ? kCandidate : kRejected);
    char score[32];
    std::snprintf(score, sizeof score, "%.0f", static_cast<double>(seen.regions[i].score));
    labels.emplace_back(box, failure != 0 ? kFailureLabel[failure]
                                          : std::string(i == chosen ? "BEST " : "SCORE ") + score);
  }
  for (size_t i = 0; i < seen.regions.size(); ++i) {
    const SkinRegion& r = seen.regions[i].region;
    const int failure = static_cast<int>(seen.regions[i].failed);
    char score[32];
    std::snprintf(score, sizeof score, "%.0f", static_cast<double>(seen.regions[i].score));
    const std::string why =
        failure != 0 ? "fails test " + std::to_string(failure) + ", " + kFailureText[failure]
                     : std::string(i == chosen ? "chosen" : "candidate") + ", score " + score;
    text += "  region " + Rect4(r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1) + ", " +
            std::to_string(r.pixelCount) + " pixels: " + why + "\n";
  }
  const size_t unlabelled = drawing.Labels(labels);
  if (unlabelled > 0) {
    text += "  (" + std::to_string(unlabelled) + " region labels left off the picture for room)\n";
  }
  // Last, so that nothing covers them.
  if (framed) drawing.Outline(drawing.Scaled(crop), false, kCropRect);
  if (found) drawing.Outline(drawing.Scaled(face), true, kFaceRect);

  out.outcome = outcome;
  out.drawing = std::move(drawing.canvas());
  out.text = std::move(text);
  return out;
}

namespace {

// Runs the request once, draws what its search saw and writes the drawing. Returns the exit
// status.
int Explain(const std::string& input, const std::string& output, const photo::PhotoOptions& options,
            photo::Format format) {
  photo::PhotoRequest request;
  request.options = &options;
  Explanation explained = DrawExplanation(input, photo::PhotoHooks(request), request);
  if (explained.outcome == Outcome::kLoadFailed) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(),
                 FailureReason(explained.outcome, input, request.error).c_str());
    return FactsOf(explained.outcome).exitCode;
  }
  if (explained.outcome == Outcome::kExtractFailed) {
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return FactsOf(Outcome::kExtractFailed).exitCode;
  }
  std::string error;
  bool written;
  if (format == photo::Format::kBMP) {
    written = WriteBMP(output, explained.drawing, error);
  } else {
    std::vector<uint8_t> bytes;
    written = EncodeDrawing(explained.drawing, format, bytes, error) &&
              photo::WriteFileBytes(output, bytes, error);
  }
  if (!written) {
    std::fprintf(stderr, "bmpface: cannot write %s%s%s\n", output.c_str(),
                 error.empty() ? "" : ": ", error.c_str());
    return FactsOf(Outcome::kSaveFailed).exitCode;
  }
  std::fputs(explained.text.c_str(), stdout);
  return 0;
}

}  // namespace

int RunExplain(int argc, char** argv) {
  CLI::App app{
      "Draws how bmpface chose the face: the picture (upright) dimmed, skin pixels tinted blue, "
      "every skin region of at least 30 x 30 pixels outlined (green: a candidate, labelled with "
      "its score; red: labelled with the first test it failed), the chosen region outlined "
      "boldly, the face rectangle in bold yellow and, with framing options, the crop in magenta; "
      "a legend of the colours and the seven tests below. A small picture is drawn enlarged. "
      "Prints the same on standard output.\n"
      "Exit status: 0 written (with or without a face), 1 input not loadable, 3 out of memory, "
      "4 output not writable, 64 wrong command line.",
      "bmpface explain"};
  std::string input, output;
  bool overwrite = false;
  photo::PhotoOptions options;
  app.add_option("INPUT", input, "the picture")->required();
  app.add_option("OUTPUT", output,
#if defined(BMPFACE_HAVE_VIPS)
                 "the picture to write: NAME.png, NAME.jpg or NAME.bmp"
#elif defined(BMPFACE_HAVE_PNG)
                 "the picture to write: NAME.png or NAME.bmp"
#else
                 "the picture to write: NAME.bmp (this build has no PNG support)"
#endif
                 )
      ->required();
  app.add_flag("--overwrite", overwrite, "let OUTPUT be INPUT itself (refused otherwise)");
  photo::AddPhotoOptions(app, options, photo::kOrientOption | photo::kFramingOptions);
  photo::Format format = photo::Format::kUnknown;
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    photo::CheckOutputSize(options, photo::Format::kUnknown);
    format = photo::FormatOfName(output);
    if (format != photo::Format::kPNG && format != photo::Format::kJPEG &&
        format != photo::Format::kBMP) {
      throw CLI::ValidationError("OUTPUT must end in .png, .jpg or .bmp");
    }
#if !defined(BMPFACE_HAVE_VIPS)
    if (format == photo::Format::kJPEG) {
      throw CLI::ValidationError("this bmpface was built without libvips: write a .png or .bmp");
    }
#if !defined(BMPFACE_HAVE_PNG)
    if (format == photo::Format::kPNG) {
      throw CLI::ValidationError("this bmpface was built without libpng: write a .bmp");
    }
#endif
#endif
  });
  if (parsed >= 0) return parsed;

  if (!overwrite && SameFile(input, output)) {
    std::fprintf(stderr, "bmpface: %s is the input itself; give --overwrite to replace it\n",
                 output.c_str());
    return kExitUsage;
  }
  // Memory runs out as an exit status and a message, never as an abort.
  try {
    return Explain(input, output, options, format);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return FactsOf(Outcome::kExtractFailed).exitCode;
  }
}

}  // namespace bmpface::cli
