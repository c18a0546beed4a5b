// bmpface explain: a picture of how the face rectangle was chosen.
//
// The request runs once, through the library's own request function: the canvas is drawn from the
// mask the search built, the regions are those the search walked, with the tests and scores it
// gave them, and the rectangle is the one a crop would use. Nothing is computed again here.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>
#ifdef BMPFACE_HAVE_PNG
#include <png.h>
#endif

#include "api/request.h"
#include "command.h"
#include "explain/draw.h"
#include "image/bmp_header.h"
#include "platform/platform.h"

namespace bmpface::cli {
namespace {

constexpr RGB kSkinTint{0, 190, 255};
constexpr RGB kCandidate{40, 230, 40};
constexpr RGB kRejected{255, 50, 50};
constexpr RGB kFaceRect{255, 215, 0};
constexpr RGB kText{255, 255, 255};
constexpr RGB kTextBack{0, 0, 0};

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

// What the request showed of its search.
struct Seen {
  Canvas canvas;
  bool canvasMade = false;
  std::vector<RegionSeen> regions;  // those of at least 30 x 30 pixels, in scan order
  SearchEnd end = SearchEnd::kNone;
  bool outOfMemory = false;         // for the canvas or the list of regions
};

// The picture dimmed to two fifths, its skin pixels tinted.
void DrawMask(void* context, const BMPImage& image, SkinMaskView mask) {
  Seen& seen = *static_cast<Seen*>(context);
  const int32_t width = image.width, height = image.height;
  try {
    seen.canvas = Canvas{width, height,
                         std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
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

int StopAfterDetection(void*, const BMPImage&, FaceRect&) { return 0; }

// Through the library's BMP writer: 24 bits, bottom-up, the plain 54-byte header.
bool WriteBMP(const std::string& path, const Canvas& canvas) {
  BMPImage image{};
  image.width = canvas.width;
  image.height = canvas.height;
  image.bytesPerPixel = 3;
  image.rowStride = BMPRowStride(24, canvas.width);
  if (image.rowStride == 0) return false;
  const uint64_t size = static_cast<uint64_t>(image.rowStride) * canvas.height;
  if (size + kHeaderBytes > UINT32_MAX) return false;
  std::vector<uint8_t> pixels(size, 0);
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
  image.fileHeader = {kBMPMagic, static_cast<uint32_t>(size + kHeaderBytes), 0, 0, kHeaderBytes};
  image.infoHeader = {kInfoHeaderBytes,
                      canvas.width,
                      canvas.height,
                      1,
                      24,
                      0,
                      static_cast<uint32_t>(size),
                      2835,
                      2835,
                      0,
                      0};
  return SaveBMP(path.c_str(), image) == 1;
}

#ifdef BMPFACE_HAVE_PNG
bool WriteBytes(const std::string& path, const uint8_t* bytes, size_t size) {
  int created = 0;
  PlatformFile* file = PlatformOpenWrite(path.c_str(), created);
  if (file == nullptr) return false;
  const int ok = PlatformWrite(bytes, 1, size, file) == size ? 1 : 0;
  return PlatformFinishWrite(file, path.c_str(), created, ok) == 1;
}

bool WritePNG(const std::string& path, const Canvas& canvas) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(canvas.width);
  image.height = static_cast<png_uint_32>(canvas.height);
  image.format = PNG_FORMAT_RGB;
  // Encoded in memory, then written like the library's files: a failed write leaves no partial
  // file, and removes nothing that is not a regular file.
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, canvas.rgb.data(), 0, nullptr) == 0) {
    return false;
  }
  std::vector<uint8_t> bytes(size);
  const int encoded =
      png_image_write_to_memory(&image, bytes.data(), &size, 0, canvas.rgb.data(), 0, nullptr);
  png_image_free(&image);
  return encoded != 0 && WriteBytes(path, bytes.data(), size);
}
#endif

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool EndsWith(const std::string& text, const char* end) {
  const size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

std::string Rect4(int32_t x, int32_t y, int32_t w, int32_t h) {
  return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
         std::to_string(h);
}

}  // namespace

int RunExplain(int argc, char** argv) {
  CLI::App app{
      "Draws how bmpface chose the face: the picture dimmed, skin pixels tinted blue, every skin "
      "region of at least 30 x 30 pixels outlined (green: a candidate, labelled with its score; "
      "red: labelled with the first test it failed), the chosen region outlined boldly and the "
      "face rectangle in bold yellow. Prints the same on standard output.\n"
      "Exit status: 0 written (with or without a face), 1 input not loadable, 3 out of memory, "
      "4 output not writable, 64 wrong command line.",
      "bmpface explain"};
  std::string input, output;
  app.add_option("INPUT", input, "a 24- or 32-bit BMP picture")->required();
  app.add_option("OUTPUT", output,
#ifdef BMPFACE_HAVE_PNG
                 "the picture to write: NAME.png or NAME.bmp"
#else
                 "the picture to write: NAME.bmp (this build has no PNG support)"
#endif
                 )
      ->required();
  bool png = false;
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    png = EndsWith(Lower(output), ".png");
    if (!png && !EndsWith(Lower(output), ".bmp")) {
      throw CLI::ValidationError("OUTPUT must end in .png or .bmp");
    }
#ifndef BMPFACE_HAVE_PNG
    if (png) throw CLI::ValidationError("this bmpface was built without libpng: write a .bmp");
#endif
  });
  if (parsed >= 0) return parsed;

  Seen seen;
  const SearchVisitor visitor{&seen, DrawMask, KeepRegion, KeepEnd};
  RequestHooks hooks{};
  hooks.search = &visitor;
  hooks.face = StopAfterDetection;
  FaceRect face{};
  const Outcome outcome = RunRequest(input.c_str(), nullptr, &hooks, &face);
  if (outcome == Outcome::kLoadFailed) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(), FactsOf(outcome).reason);
    return FactsOf(outcome).exitCode;
  }
  if (seen.end == SearchEnd::kNoMemory || seen.outOfMemory || !seen.canvasMade) {
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return FactsOf(Outcome::kExtractFailed).exitCode;
  }
  const bool found = outcome == Outcome::kFaceFound;
  Canvas& canvas = seen.canvas;
  const int32_t width = canvas.width, height = canvas.height;

  const int32_t scale = 1 + std::min(width, height) / 800;
  const int32_t bold = 3 * scale;
  std::string text =
      input + ": " +
      (found ? "face " + Rect4(face.x, face.y, face.width, face.height) : std::string("no face")) +
      "\n";
  // The winner is the last region that took the lead.
  size_t chosen = seen.regions.size();
  for (size_t i = 0; i < seen.regions.size(); ++i) {
    if (seen.regions[i].leads != 0) chosen = i;
  }
  for (size_t i = 0; i < seen.regions.size(); ++i) {
    const SkinRegion& r = seen.regions[i].region;
    const bool isChosen = i == chosen;
    const int failure = static_cast<int>(seen.regions[i].failed);
    const int32_t thickness = isChosen ? bold : scale;
    canvas.Outline(r.minX, r.minY, r.maxX, r.maxY, thickness,
                   failure == 0 ? kCandidate : kRejected);
    char score[32];
    std::snprintf(score, sizeof score, "%.0f", static_cast<double>(seen.regions[i].score));
    const std::string label =
        failure != 0 ? kFailureLabel[failure] : std::string(isChosen ? "BEST " : "SCORE ") + score;
    canvas.Text(r.minX + thickness + 2 * scale, r.minY + thickness + 2 * scale, label, scale,
                kText, kTextBack);
    const std::string why =
        failure != 0 ? "fails test " + std::to_string(failure) + ", " + kFailureText[failure]
                     : std::string(isChosen ? "chosen" : "candidate") + ", score " + score;
    text += "  region " + Rect4(r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1) + ", " +
            std::to_string(r.pixelCount) + " pixels: " + why + "\n";
  }
  const std::string caption =
      std::to_string(seen.regions.size()) + " REGIONS 30X30 OR MORE" + (found ? "" : ", NO FACE");
  canvas.Text(4 * scale, height - 10 * scale, caption, scale, kText, kTextBack);
  // Last, so that nothing covers it.
  if (found) {
    canvas.Outline(face.x, face.y, face.x + face.width - 1, face.y + face.height - 1, bold,
                   kFaceRect);
  }

#ifdef BMPFACE_HAVE_PNG
  const bool written = png ? WritePNG(output, canvas) : WriteBMP(output, canvas);
#else
  const bool written = WriteBMP(output, canvas);
#endif
  if (!written) {
    std::fprintf(stderr, "bmpface: cannot write %s\n", output.c_str());
    return FactsOf(Outcome::kSaveFailed).exitCode;
  }
  std::fputs(text.c_str(), stdout);
  return 0;
}

}  // namespace bmpface::cli
