// bmpface explain: a picture of how the face rectangle was chosen.
//
// The regions are found with the library's own mask, grower and candidate test; the rectangle drawn
// is the one DetectFace returns, so the picture cannot disagree with a crop.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#ifdef BMPFACE_HAVE_PNG
#include <png.h>
#endif

#include "cli_common.h"
#include "detect/face_search.h"
#include "detect/region.h"
#include "detect/skin_mask.h"
#include "image/bmp_image.h"
#include "platform/platform.h"

namespace bmpface::cli {
namespace {

struct RGB {
  uint8_t r, g, b;
};
constexpr RGB kSkinTint{0, 190, 255};
constexpr RGB kCandidate{40, 230, 40};
constexpr RGB kRejected{255, 50, 50};
constexpr RGB kFaceRect{255, 215, 0};
constexpr RGB kText{255, 255, 255};
constexpr RGB kTextBack{0, 0, 0};

// Why a region is not a face, by the number FaceCandidateFailure gives: on the picture, in words.
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

// A 5 x 7 font for labels: each row's five bits, leftmost pixel in bit 4. Lower case is drawn as
// upper case; a character not here as '?'.
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0, 0x04}},
};

const Glyph& GlyphFor(char c) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Glyph& g : kFont) {
    if (g.c == upper) return g;
  }
  return kFont[sizeof kFont / sizeof kFont[0] - 1];
}

// An RGB picture, rows top-down, three bytes a pixel with no fill.
struct Canvas {
  int32_t width;
  int32_t height;
  std::vector<uint8_t> rgb;

  void Set(int32_t x, int32_t y, RGB c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, RGB c) {
    for (int32_t y = std::max(y0, 0); y <= std::min(y1, height - 1); ++y) {
      for (int32_t x = std::max(x0, 0); x <= std::min(x1, width - 1); ++x) Set(x, y, c);
    }
  }
  // The inclusive box's border, `thickness` pixels wide, drawn inward.
  void Outline(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t thickness, RGB c) {
    for (int32_t t = 0; t < thickness && x0 + t <= x1 - t && y0 + t <= y1 - t; ++t) {
      Fill(x0 + t, y0 + t, x1 - t, y0 + t, c);
      Fill(x0 + t, y1 - t, x1 - t, y1 - t, c);
      Fill(x0 + t, y0 + t, x0 + t, y1 - t, c);
      Fill(x1 - t, y0 + t, x1 - t, y1 - t, c);
    }
  }
  // White text on a black band, its top-left corner at (x, y).
  void Text(int32_t x, int32_t y, const std::string& text, int32_t scale) {
    const int32_t advance = 6 * scale;
    Fill(x - scale, y - scale, x + advance * static_cast<int32_t>(text.size()), y + 8 * scale - 1,
         kTextBack);
    for (size_t i = 0; i < text.size(); ++i) {
      const Glyph& g = GlyphFor(text[i]);
      const int32_t left = x + advance * static_cast<int32_t>(i);
      for (int32_t row = 0; row < 7; ++row) {
        for (int32_t col = 0; col < 5; ++col) {
          if ((g.rows[row] >> (4 - col) & 1) == 0) continue;
          Fill(left + col * scale, y + row * scale, left + (col + 1) * scale - 1,
               y + (row + 1) * scale - 1, kText);
        }
      }
    }
  }
};

struct Explained {
  SkinRegion region;
  int failure;  // FaceCandidateFailure: 0 for a candidate
  float score;  // candidates only
};

// Every skin region of at least 30 x 30 pixels, in the search's scan order. False when memory ran
// out.
bool FindRegions(const SkinMask mask, int32_t width, int32_t height,
                 std::vector<Explained>& regions) {
  SkinMask visited = AllocateRowArray(width, height);
  if (visited == nullptr) return false;
  bool grown = true;
  for (int32_t y = 0; y < height && grown; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (mask[y][x] == 0 || visited[y][x] != 0) continue;
      SkinRegion r;
      if (GrowRegion(mask, visited, width, height, x, y, r) == 0) {
        grown = false;
        break;
      }
      if (r.maxX - r.minX + 1 < 30 || r.maxY - r.minY + 1 < 30) continue;
      const int failure = FaceCandidateFailure(r, width, height);
      const float score = failure != 0 ? 0.0f : FaceScore(r, height);
      regions.push_back({r, failure, score});
    }
  }
  FreeRowArray(visited, height);
  return grown;
}

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
  PlatformFile* file = PlatformOpen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const int ok = PlatformWrite(bytes, 1, size, file) == size ? 1 : 0;
  return PlatformFinishWrite(file, path.c_str(), ok) == 1;
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
  try {
    app.parse(argc, argv);
    png = EndsWith(Lower(output), ".png");
    if (!png && !EndsWith(Lower(output), ".bmp")) {
      throw CLI::ValidationError("OUTPUT must end in .png or .bmp");
    }
#ifndef BMPFACE_HAVE_PNG
    if (png) throw CLI::ValidationError("this bmpface was built without libpng: write a .bmp");
#endif
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : kExitUsage;
  }

  BMPImage image;
  if (LoadBMP(input.c_str(), image) == 0) {
    std::fprintf(stderr, "bmpface: %s: missing, unreadable, or not a 24- or 32-bit BMP picture\n",
                 input.c_str());
    return kExitLoad;
  }
  const int32_t width = image.width, height = image.height;
  FaceRect face{};
  const bool found = DetectFace(image, face) == 1;
  std::vector<Explained> regions;
  SkinMask mask = BuildSkinMask(image);
  if (mask == nullptr || !FindRegions(mask, width, height, regions)) {
    FreeRowArray(mask, height);
    FreeBMP(image);
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return kExitExtract;
  }
  // The search keeps the first of equal scores.
  int chosen = -1;
  float best = 0.0f;
  for (size_t i = 0; i < regions.size(); ++i) {
    if (regions[i].failure == 0 && regions[i].score > best) {
      best = regions[i].score;
      chosen = static_cast<int>(i);
    }
  }

  Canvas canvas{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
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
      canvas.Set(x, y, c);
    }
  }
  FreeRowArray(mask, height);
  FreeBMP(image);

  const int32_t scale = 1 + std::min(width, height) / 800;
  const int32_t bold = 3 * scale;
  std::string text =
      input + ": " +
      (found ? "face " + Rect4(face.x, face.y, face.width, face.height) : std::string("no face")) +
      "\n";
  for (size_t i = 0; i < regions.size(); ++i) {
    const SkinRegion& r = regions[i].region;
    const bool isChosen = static_cast<int>(i) == chosen;
    const int failure = regions[i].failure;
    const int32_t thickness = isChosen ? bold : scale;
    canvas.Outline(r.minX, r.minY, r.maxX, r.maxY, thickness,
                   failure == 0 ? kCandidate : kRejected);
    char score[32];
    std::snprintf(score, sizeof score, "%.0f", static_cast<double>(regions[i].score));
    const std::string label =
        failure != 0 ? kFailureLabel[failure] : std::string(isChosen ? "BEST " : "SCORE ") + score;
    canvas.Text(r.minX + thickness + 2 * scale, r.minY + thickness + 2 * scale, label, scale);
    const std::string why =
        failure != 0 ? "fails test " + std::to_string(failure) + ", " + kFailureText[failure]
                     : std::string(isChosen ? "chosen" : "candidate") + ", score " + score;
    text += "  region " + Rect4(r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1) + ", " +
            std::to_string(r.pixelCount) + " pixels: " + why + "\n";
  }
  const std::string caption =
      std::to_string(regions.size()) + " REGIONS 30X30 OR MORE" + (found ? "" : ", NO FACE");
  canvas.Text(4 * scale, height - 10 * scale, caption, scale);
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
    return kExitSave;
  }
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

}  // namespace bmpface::cli
