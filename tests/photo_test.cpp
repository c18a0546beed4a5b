// The photo layer: framing, formats, orientation, the other BMPs, and (with libvips) decoding,
// conversion and encoding, with pictures made here.
#include "photo/photo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "batch/plan.h"
#include "image/bmp_image.h"
#include "photo/backend.h"
#include "photo/bmp_other.h"
#include "photo/format.h"
#include "photo/framing.h"
#include "photo/orient.h"
#include "photo/verify.h"

#ifdef BMPFACE_HAVE_VIPS
#include <vips/vips.h>
#endif

namespace bmpface::photo {
namespace {

namespace fs = std::filesystem;

std::string Describe(const FaceRect& r) {
  return std::to_string(r.x) + " " + std::to_string(r.y) + " " + std::to_string(r.width) + " " +
         std::to_string(r.height);
}

TEST(FrameFace, MarginAspectSizeWithinThePicture) {
  // clang-format off
  const struct {
    const char* name;
    FaceRect face;
    int32_t width, height;
    Framing framing;
    const char* want;
  } cases[] = {
      {"off: the rectangle itself", {10, 20, 30, 40}, 100, 100, {}, "10 20 30 40"},
      {"margin 0.5", {40, 40, 20, 10}, 100, 100, {0.5}, "30 35 40 20"},
      {"margin rounds to whole pixels", {40, 40, 15, 15}, 100, 100, {0.1}, "38 38 19 19"},
      {"margin clamped at the edges", {0, 0, 20, 20}, 30, 100, {1.0}, "0 0 30 40"},
      {"aspect 1:1 widens a tall one", {40, 20, 10, 30}, 100, 100, {0, 1, 1}, "30 20 30 30"},
      {"aspect 1:1 heightens a wide one", {20, 40, 30, 10}, 100, 100, {0, 1, 1}, "20 30 30 30"},
      {"aspect 35:45", {100, 100, 70, 70}, 400, 400, {0, 35, 45}, "100 90 70 90"},
      {"aspect already right", {10, 10, 35, 45}, 100, 100, {0, 35, 45}, "10 10 35 45"},
      {"aspect shifted back inside", {0, 0, 10, 40}, 100, 100, {0, 1, 1}, "0 0 40 40"},
      {"aspect shifted from the far edge", {90, 60, 10, 40}, 100, 100, {0, 1, 1}, "60 60 40 40"},
      {"picture too narrow: shrinks", {10, 0, 20, 100}, 40, 100, {0, 1, 1}, "0 30 40 40"},
      {"picture too low: shrinks", {0, 10, 100, 20}, 100, 40, {0, 1, 1}, "30 0 40 40"},
      {"margin then aspect", {45, 45, 10, 10}, 100, 100, {0.5, 2, 1}, "30 40 40 20"},
      {"size gives the aspect", {40, 20, 10, 30}, 100, 100, {0, 0, 0, 200, 200}, "30 20 30 30"},
      {"aspect wins over size", {40, 20, 10, 30}, 100, 100, {0, 1, 3, 200, 200}, "40 20 10 30"},
      {"a one-pixel face", {5, 5, 1, 1}, 10, 10, {0, 3, 1}, "4 5 3 1"},
      {"a whole-picture face", {0, 0, 10, 10}, 10, 10, {2.0, 1, 2}, "2 0 5 10"},
      // Top, right, bottom, left: shares of the height (top, bottom) and width (left, right).
      {"asymmetric margins", {40, 40, 20, 10}, 100, 100, {Margins(0.1, 0.5, 1, 0)}, "40 39 30 21"},
      {"a chin margin clamped below", {40, 80, 20, 10}, 100, 95, {Margins(0, 0, 2, 0)},
       "40 80 20 15"},
      {"one side clamped, the others kept", {0, 40, 20, 10}, 100, 100, {Margins(0, 0.5, 0, 3)},
       "0 40 30 10"},
      {"asymmetric margins then aspect", {40, 40, 20, 20}, 100, 100, {Margins(0, 0, 1, 0), 1, 1},
       "30 40 40 40"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(FrameFace(c.face, c.width, c.height, c.framing)), c.want) << c.name;
  }
}

// Whatever the picture and the face, the frame lies in the picture, keeps an area, and has the
// aspect asked for to the nearest whole pixel.
TEST(FrameFace, AspectHoldsForAnyFace) {
  std::mt19937 random(15);
  for (int i = 0; i < 20000; ++i) {
    const int32_t width = 1 + static_cast<int32_t>(random() % 300);
    const int32_t height = 1 + static_cast<int32_t>(random() % 300);
    FaceRect face;
    face.x = static_cast<int32_t>(random() % static_cast<uint32_t>(width));
    face.y = static_cast<int32_t>(random() % static_cast<uint32_t>(height));
    face.width = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(width - face.x));
    face.height = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(height - face.y));
    Framing f;
    f.margin = (random() % 4) * 0.25;
    f.aspectW = 1 + static_cast<int32_t>(random() % 50);
    f.aspectH = 1 + static_cast<int32_t>(random() % 50);
    const FaceRect r = FrameFace(face, width, height, f);
    ASSERT_TRUE(r.x >= 0 && r.y >= 0 && r.width >= 1 && r.height >= 1 && r.x + r.width <= width &&
                r.y + r.height <= height)
        << Describe(r) << " in " << width << "x" << height;
    // |w/h - aw/ah| within half a pixel of either side.
    const double want = static_cast<double>(f.aspectW) / f.aspectH;
    const double got = static_cast<double>(r.width) / r.height;
    const bool widthRounded = std::abs(r.width - want * r.height) <= 0.5 + 1e-9;
    const bool heightRounded = std::abs(r.height - r.width / want) <= 0.5 + 1e-9;
    const bool clamped = r.width == 1 || r.height == 1 || r.width == width || r.height == height;
    ASSERT_TRUE(widthRounded || heightRounded || clamped)
        << Describe(r) << " for " << f.aspectW << ":" << f.aspectH << " (" << got << ")";
  }
}

// --margin and its sides: plain decimal numbers only, one or four of them, each 0 to 10.
TEST(ParseMargins, OneOrFourPlainNumbers) {
  const struct {
    const char* text;
    bool ok;
    Margins want;
    const char* error;
  } cases[] = {{"0.25", true, Margins(0.25), ""},
               {"10", true, Margins(10), ""},
               {".5", true, Margins(0.5), ""},
               {"0.1,0,0.6,0", true, Margins(0.1, 0, 0.6, 0), ""},
               {"nan", false, {}, "not a number"},
               {"inf", false, {}, "not a number"},
               {"5abc", false, {}, "not a number"},
               {"1e1", false, {}, "not a number"},
               {" 1", false, {}, "not a number"},
               {"-1", false, {}, "not a number"},
               {"1.2.3", false, {}, "not a number"},
               {"", false, {}, "not a number"},
               {"0.1,,0,0", false, {}, "not a number"},
               {"10.5", false, {}, "from 0 to 10"},
               {"0.1,0.2", false, {}, "one share or four"},
               {"1,1,1,1,1", false, {}, "one share or four"}};
  for (const auto& c : cases) {
    Margins got(7);
    std::string error;
    EXPECT_EQ(ParseMargins(c.text, got, error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(got.top == c.want.top && got.right == c.want.right &&
                  got.bottom == c.want.bottom && got.left == c.want.left)
          << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
      EXPECT_EQ(got.top, 7) << c.text << ": changed on failure";
    }
  }
}

// --size resizes to exactly its size; with --no-upscale a smaller crop keeps --size's aspect at
// the largest size it holds, and a larger one still shrinks to --size.
TEST(OutputSize, SizeAndNoUpscale) {
  const struct {
    const char* name;
    int32_t cropW, cropH, sizeW, sizeH;
    bool noUpscale;
    int32_t wantW, wantH;
  } cases[] = {{"no --size", 80, 72, 0, 0, false, 80, 72},
               {"enlarged", 80, 72, 256, 256, false, 256, 256},
               {"not enlarged", 80, 80, 256, 256, true, 80, 80},
               {"shrunk all the same", 512, 512, 256, 256, true, 256, 256},
               {"the tighter side decides", 80, 72, 256, 256, true, 72, 72},
               {"one side short", 300, 100, 200, 200, true, 100, 100},
               {"never below one pixel", 1, 1, 1000, 10, true, 1, 1}};
  for (const auto& c : cases) {
    Framing f;
    f.sizeW = c.sizeW;
    f.sizeH = c.sizeH;
    f.noUpscale = c.noUpscale;
    int32_t w = 0, h = 0;
    OutputSize(c.cropW, c.cropH, f, w, h);
    EXPECT_TRUE(w == c.wantW && h == c.wantH) << c.name << ": " << w << "x" << h;
  }
}

// The window --verify searches: the region's box and 0.2 of it on each side, within the picture;
// it is seen with its longer side at 320 pixels.
TEST(VerifyWindow, RegionWithAMarginWithinThePicture) {
  const struct {
    const char* name;
    SkinRegion region;
    int32_t width, height;
    const char* want;
    double scale;
  } cases[] = {{"inside", {100, 199, 100, 149, 0, 0, 0}, 400, 400, "80 90 140 70", 320.0 / 140},
               {"at the corner", {0, 49, 0, 99, 0, 0, 0}, 60, 500, "0 0 60 120", 320.0 / 120},
               {"the whole picture", {0, 639, 0, 479, 0, 0, 0}, 640, 480, "0 0 640 480", 0.5}};
  for (const auto& c : cases) {
    const FaceRect w = VerifyWindow(c.region, c.width, c.height);
    EXPECT_EQ(Describe(w), c.want) << c.name;
    EXPECT_DOUBLE_EQ(VerifyScale(w), c.scale) << c.name;
  }
}

TEST(ParsePair, AspectsAndSizes) {
  const struct {
    const char* text;
    char separator;
    bool ok;
    int32_t a, b;
  } cases[] = {{"35:45", ':', true, 35, 45},
               {"1:1", ':', true, 1, 1},
               {"413x531", 'x', true, 413, 531},
               {"0:1", ':', false, 0, 0},
               {"35:", ':', false, 0, 0},
               {":45", ':', false, 0, 0},
               {"35x45", ':', false, 0, 0},
               {"3.5:4", ':', false, 0, 0},
               {"-1:4", ':', false, 0, 0},
               {"65536x1", 'x', false, 0, 0},
               {"65535x65535", 'x', true, 65535, 65535},
               {"1:2:3", ':', false, 0, 0},
               {" 1:2", ':', false, 0, 0}};
  for (const auto& c : cases) {
    int32_t a = 0, b = 0;
    EXPECT_EQ(ParsePair(c.text, c.separator, c.separator == 'x' ? kMaxSide : kMaxAspectTerm, a, b),
              c.ok)
        << c.text;
    if (c.ok) {
      EXPECT_TRUE(a == c.a && b == c.b) << c.text;
    }
  }
}

TEST(Formats, ByContentByNameByWord) {
  const struct {
    std::string head;
    Format want;
  } heads[] = {
      {"BM\x36\0\0\0", Format::kBMP},
      {"\xFF\xD8\xFF\xE0", Format::kJPEG},
      {"\x89PNG\r\n\x1A\n", Format::kPNG},
      {"GIF89a", Format::kGIF},
      {"GIF87a", Format::kGIF},
      {std::string("RIFF\0\0\0\0WEBPVP8 ", 16), Format::kWebP},
      {std::string("RIFF\0\0\0\0AVI ", 12), Format::kUnknown},
      {std::string("II*\0", 4), Format::kTIFF},
      {std::string("MM\0*", 4), Format::kTIFF},
      {std::string("\0\0\0\x18"
                   "ftypheic",
                   12),
       Format::kHEIF},
      {std::string("\0\0\0\x18"
                   "ftypmif1",
                   12),
       Format::kHEIF},
      {std::string("\0\0\0\x18"
                   "ftypavif",
                   12),
       Format::kAVIF},
      {std::string("\0\0\0\x18"
                   "ftypmp42",
                   12),
       Format::kUnknown},
      {"P6\n2 2\n255\n", Format::kUnknown},
      {"<svg", Format::kUnknown},
      {"%PDF-1.4", Format::kUnknown},
      {"B", Format::kUnknown},
      {"", Format::kUnknown},
  };
  for (const auto& h : heads) {
    EXPECT_EQ(SniffFormat(reinterpret_cast<const uint8_t*>(h.head.data()), h.head.size()), h.want)
        << h.head;
  }
  EXPECT_EQ(FormatOfName("a/b/face.JPG"), Format::kJPEG);
  EXPECT_EQ(FormatOfName("face.jpeg"), Format::kJPEG);
  EXPECT_EQ(FormatOfName("face.tiff"), Format::kTIFF);
  EXPECT_EQ(FormatOfName("face.heic"), Format::kHEIF);
  EXPECT_EQ(FormatOfName("face.avif"), Format::kAVIF);
  EXPECT_EQ(FormatOfName("face.bmp"), Format::kBMP);
  EXPECT_EQ(FormatOfName("face"), Format::kUnknown);
  EXPECT_EQ(FormatOfName("dir.png/face"), Format::kUnknown);
  EXPECT_EQ(FormatOfName("face.txt"), Format::kUnknown);
  EXPECT_EQ(FormatOfWord("PNG"), Format::kPNG);
  EXPECT_EQ(FormatOfWord(".png"), Format::kUnknown);

  if (!BuiltWithVips()) return;  // every crop is a BMP
  PhotoOptions options;
  PhotoInfo jpeg;
  jpeg.format = Format::kJPEG;
  PhotoInfo bmp;
  bmp.format = Format::kBMP;
  EXPECT_EQ(OutputFormat("out.png", options, jpeg), Format::kPNG);
  EXPECT_EQ(OutputFormat("out", options, jpeg), Format::kJPEG);  // the input's format
  EXPECT_EQ(OutputFormat("out.dat", options, bmp), Format::kBMP);
  options.format = Format::kWebP;
  EXPECT_EQ(OutputFormat("out.png", options, jpeg), Format::kWebP);
}

// Where stored pixel (sx, sy) lies once upright, from the EXIF table of orientations: which
// upright edge the stored row 0 and the stored column 0 form (Top, Bottom, Left, Right).
void ExifUprightPosition(int o, int32_t w, int32_t h, int32_t sx, int32_t sy, int32_t& ux,
                         int32_t& uy) {
  static const char kEdges[9][3] = {"TL", "TL", "TR", "BR", "BL", "LT", "RT", "RB", "LB"};
  const int32_t uw = SwapsAxes(o) ? h : w, uh = SwapsAxes(o) ? w : h;
  // A stored row's number is its distance from the row-0 edge; a column's from the column-0 edge.
  const auto place = [&](char edge, int32_t distance) {
    if (edge == 'T') uy = distance;
    if (edge == 'B') uy = uh - 1 - distance;
    if (edge == 'L') ux = distance;
    if (edge == 'R') ux = uw - 1 - distance;
  };
  place(kEdges[o][0], sy);
  place(kEdges[o][1], sx);
}

// Upright pixels by the EXIF rule for each orientation, on a 3 x 2 picture whose pixels are
// numbered 1 to 6 in reading order (stored), read back upright in reading order.
TEST(Orientation, EveryTagTurnsThePictureUpright) {
  const char* want[9] = {"",       "123456", "321654", "654321", "456123",
                         "142536", "415263", "635241", "362514"};
  for (int o = 1; o <= 8; ++o) {
    const int32_t w = 3, h = 2;
    std::vector<uint8_t> stored;
    for (int i = 1; i <= w * h; ++i) {
      stored.insert(stored.end(), {static_cast<uint8_t>(i), 0, 0});  // red carries the number
    }
    const int32_t uw = SwapsAxes(o) ? h : w, uh = SwapsAxes(o) ? w : h;
    std::vector<uint8_t> upright(static_cast<size_t>(uw * uh * 3), 0);
    PlaceRows({o, w, h, 3, upright.data(), static_cast<size_t>(uw) * 3}, stored.data(), w * 3, 0,
              h);
    std::string got;
    for (size_t i = 0; i < upright.size(); i += 3) got += static_cast<char>('0' + upright[i + 2]);
    EXPECT_EQ(got, want[o]) << "orientation " << o;
    for (int32_t sy = 0; sy < h; ++sy) {
      for (int32_t sx = 0; sx < w; ++sx) {
        int32_t ux = -1, uy = -1;
        ExifUprightPosition(o, w, h, sx, sy, ux, uy);
        EXPECT_EQ(upright[(static_cast<size_t>(uy) * uw + ux) * 3 + 2], sy * w + sx + 1)
            << "orientation " << o;
      }
    }
  }
}

// Rows given in bands of any height (as libvips hands them over) land where the EXIF table says,
// with red and blue swapped and alpha kept.
TEST(Orientation, BandsOfRowsInAnyOrientation) {
  std::mt19937 random(8);
  for (int o = 1; o <= 8; ++o) {
    for (const int bands : {3, 4}) {
      const int32_t w = 37, h = 23;
      std::vector<uint8_t> stored(static_cast<size_t>(w * h * bands));
      for (uint8_t& b : stored) b = static_cast<uint8_t>(random());
      const int32_t uw = SwapsAxes(o) ? h : w;
      std::vector<uint8_t> upright(stored.size(), 0);
      const UprightTarget target{o, w, h, bands, upright.data(), static_cast<size_t>(uw) * bands};
      for (int32_t top = 0; top < h;) {
        const int32_t count = std::min<int32_t>(h - top, 1 + static_cast<int32_t>(random() % 7));
        PlaceRows(target, stored.data() + static_cast<size_t>(top) * w * bands,
                  static_cast<size_t>(w) * bands, top, count);
        top += count;
      }
      for (int32_t sy = 0; sy < h; ++sy) {
        for (int32_t sx = 0; sx < w; ++sx) {
          int32_t ux = -1, uy = -1;
          ExifUprightPosition(o, w, h, sx, sy, ux, uy);
          const uint8_t* s = &stored[(static_cast<size_t>(sy) * w + sx) * bands];
          const uint8_t* u = &upright[(static_cast<size_t>(uy) * uw + ux) * bands];
          ASSERT_TRUE(u[0] == s[2] && u[1] == s[1] && u[2] == s[0] && (bands == 3 || u[3] == s[3]))
              << "orientation " << o << ", bands " << bands << ", pixel " << sx << "," << sy;
        }
      }
    }
  }
}

// BMP files built here: headers, a palette or masks, pixel data.
struct BMPFile {
  std::vector<uint8_t> bytes;
  void U16(uint32_t v) { bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); }
  void U32(uint32_t v) {
    bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
};

// A Windows BMP: 40-byte header, `palette` BGRA entries, `extra` (masks) after the header, then
// `data` as the pixels.
std::vector<uint8_t> MakeBMP(int32_t width, int32_t height, int bits, uint32_t compression,
                             const std::vector<uint32_t>& palette, const std::vector<uint8_t>& data,
                             const std::vector<uint32_t>& masks = {}) {
  BMPFile f;
  const uint32_t offBits = 54 + 4 * static_cast<uint32_t>(masks.size() + palette.size());
  f.bytes = {'B', 'M'};
  f.U32(offBits + static_cast<uint32_t>(data.size()));
  f.U32(0);
  f.U32(offBits);
  f.U32(40);
  f.U32(static_cast<uint32_t>(width));
  f.U32(static_cast<uint32_t>(height));
  f.U16(1);
  f.U16(static_cast<uint32_t>(bits));
  f.U32(compression);
  f.U32(static_cast<uint32_t>(data.size()));
  f.U32(2835);
  f.U32(2835);
  f.U32(static_cast<uint32_t>(palette.size()));
  f.U32(0);
  for (const uint32_t m : masks) f.U32(m);
  for (const uint32_t p : palette) f.U32(p);
  f.bytes.insert(f.bytes.end(), data.begin(), data.end());
  return f.bytes;
}

// The decoded picture as "RRGGBB" per pixel, rows top-down separated by '/'.
std::string Hex(const BMPImage& image) {
  std::string out;
  char buffer[8];
  for (int32_t y = 0; y < image.height; ++y) {
    if (y > 0) out += "/";
    for (int32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = PixelAt(image, x, y);
      std::snprintf(buffer, sizeof buffer, "%02x%02x%02x", p[2], p[1], p[0]);
      out += buffer;
      if (image.bytesPerPixel == 4) {
        std::snprintf(buffer, sizeof buffer, "%02x", p[3]);
        out += buffer;
      }
      out += x + 1 < image.width ? " " : "";
    }
  }
  return out;
}

TEST(OtherBMP, DepthsPalettesRunLengthsAndMasks) {
  const std::vector<uint32_t> two = {0x000000, 0xFF8040};  // index 1: red FF, green 80, blue 40
  const std::vector<uint32_t> four = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};
  // clang-format off
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* want;
  } cases[] = {
      {"1 bit, bottom-up", MakeBMP(3, 2, 1, 0, two, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
       "000000 ff8040 000000/ff8040 000000 ff8040"},
      {"1 bit, top-down", MakeBMP(3, -2, 1, 0, two, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
       "ff8040 000000 ff8040/000000 ff8040 000000"},
      {"4 bits", MakeBMP(3, 1, 4, 0, four, {0x12, 0x30, 0, 0}), "0000ff 00ff00 ff0000"},
      {"8 bits, index beyond the palette is black", MakeBMP(2, 1, 8, 0, four, {3, 200, 0, 0}),
       "ff0000 000000"},
      {"RLE8: run, absolute, end of line, end", MakeBMP(4, 2, 8, 1, four,
           {2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 4, 2, 0, 1}),
       "00ff00 00ff00 00ff00 00ff00/0000ff 0000ff 00ff00 ff0000"},
      {"RLE8: delta leaves index 0", MakeBMP(3, 2, 8, 1, four, {0, 2, 1, 1, 1, 3, 0, 1}),
       "000000 ff0000 000000/000000 000000 000000"},
      {"RLE4: alternating run", MakeBMP(4, 1, 4, 2, four, {4, 0x13, 0, 1}),
       "0000ff ff0000 0000ff ff0000"},
      {"16 bits, 5-5-5", MakeBMP(2, 1, 16, 0, {}, {0x00, 0x7C, 0x1F, 0x00}), "ff0000 0000ff"},
      {"16 bits, 5-6-5 masks", MakeBMP(2, 1, 16, 3, {}, {0xE0, 0x07, 0x00, 0xF8},
                                       {0xF800, 0x07E0, 0x001F}), "00ff00 ff0000"},
      {"16 bits, 4-4-4-4 with alpha", MakeBMP(1, 1, 16, 6, {}, {0x0F, 0x80, 0, 0},
                                              {0x0F00, 0x00F0, 0x000F, 0xF000}), "0000ff88"},
  };
  // clang-format on
  for (const auto& c : cases) {
    BMPImage image{};
    bool alpha = false;
    std::string error;
    ASSERT_EQ(DecodeOtherBMP(c.file.data(), c.file.size(), 0, image, alpha, error), 1)
        << c.name << ": " << error;
    EXPECT_EQ(Hex(image), c.want) << c.name;
    EXPECT_EQ(image.infoHeader.biBitCount, image.bytesPerPixel * 8) << c.name;
    FreeBMP(image);
  }
}

TEST(OtherBMP, RefusesWhatItCannotRead) {
  const std::vector<uint32_t> two = {0, 0xFFFFFF};
  std::vector<uint8_t> truncatedRows = MakeBMP(40, 40, 1, 0, two, std::vector<uint8_t>(100));
  std::vector<uint8_t> paletteBeyond = MakeBMP(2, 1, 8, 0, two, {0, 0, 0, 0});
  paletteBeyond[46] = 0xFF;  // biClrUsed: 255 entries
  paletteBeyond[47] = 0;
  std::vector<uint8_t> twoPlanes = MakeBMP(2, 1, 8, 0, two, {0, 0, 0, 0});
  twoPlanes[26] = 2;
  std::vector<uint8_t> noPlanes = MakeBMP(2, 1, 8, 0, two, {0, 0, 0, 0});
  noPlanes[26] = 0;
  // clang-format off
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    uint64_t maxPixels;
    const char* error;
  } cases[] = {
      {"rows beyond the file", truncatedRows, 0, "BMP rows beyond the file"},
      {"palette beyond the file", paletteBeyond, 0, "BMP palette beyond the file"},
      {"two planes", twoPlanes, 0, "BMP with 2 colour planes (a BMP has 1)"},
      {"no planes", noPlanes, 0, "BMP with 0 colour planes (a BMP has 1)"},
      {"run-length data without its end", MakeBMP(4, 4, 8, 1, two, {2, 1, 0, 0}), 0,
       "run-length BMP data ends before the picture does"},
      {"run-length top-down", MakeBMP(4, -4, 8, 1, two, {0, 1}), 0,
       "run-length BMP stored top row first"},
      {"64 bits", MakeBMP(1, 1, 64, 0, {}, std::vector<uint8_t>(8)), 0,
       "BMP of a depth or compression bmpface does not read"},
      {"RLE8 on 4 bits", MakeBMP(2, 1, 4, 1, two, {0, 1}), 0,
       "BMP of a depth or compression bmpface does not read"},
      {"masks with a gap", MakeBMP(1, 1, 16, 3, {}, {0, 0, 0, 0}, {0xF00F, 0x00F0, 0x0F00}), 0,
       "BMP bit masks that are not contiguous 16-bit fields"},
      {"no pixels", MakeBMP(0, 1, 8, 0, two, {0, 0, 0, 0}), 0,
       "BMP with no pixels or a negative width"},
      {"too many pixels", MakeBMP(4, 4, 8, 0, two, std::vector<uint8_t>(16)), 15,
       "picture of 4 x 4 pixels is over the limit of 15 pixels (--max-pixels N raises it, 0 for "
       "none)"},
      {"not a BMP", {'P', '6'}, 0, "not a BMP file"},
  };
  // clang-format on
  for (const auto& c : cases) {
    BMPImage image{};
    bool alpha = false;
    std::string error;
    EXPECT_EQ(DecodeOtherBMP(c.file.data(), c.file.size(), c.maxPixels, image, alpha, error), 0)
        << c.name;
    EXPECT_EQ(image.pixels, nullptr) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

// Every file of the BMP suite: the library's depths go to the library (same pixels as LoadBMP),
// the others to bmpface's reader, which reads the suite's good files and never crashes on the rest.
TEST(OtherBMP, TheBMPSuite) {
  const std::string suite = std::string(BMPFACE_SHARED_DIR) + "/bmpsuite";
  if (!fs::exists(suite + "/MANIFEST.tsv")) GTEST_SKIP() << "needs the BMP suite: " << suite;
  int loaded = 0, good = 0;
  for (const auto& entry : fs::recursive_directory_iterator(suite)) {
    if (entry.path().extension() != ".bmp") continue;
    const std::string path = entry.path().string();
    const std::string cls = entry.path().parent_path().filename().string();
    BMPImage image{};
    PhotoInfo info;
    std::string error;
    PhotoOptions options;
    const int ok = LoadPhoto(path.c_str(), options, image, info, error);
    BMPImage library{};
    if (LoadBMP(path.c_str(), library) == 1) {
      ASSERT_EQ(ok, 1) << path;
      EXPECT_EQ(info.reader, "bmpface") << path;
      EXPECT_EQ(std::memcmp(image.pixels, library.pixels,
                            static_cast<size_t>(library.rowStride) * library.height),
                0)
          << path;
      FreeBMP(library);
    }
    if (cls == "g") {
      good += 1;
      EXPECT_EQ(ok, 1) << path << ": " << error;
    }
    if (ok == 1) {
      ++loaded;
      FreeBMP(image);
    }
  }
  EXPECT_EQ(good, 27);
  EXPECT_GE(loaded, 27);
}

// Inputs that are not regular files are refused at once, without blocking.
TEST(LoadPhoto, RefusesWhatIsNotARegularFile) {
  const std::string fifo =
      (fs::temp_directory_path() / ("bmpface-photo-test-fifo-" + std::to_string(::getpid())))
          .string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path :
       {fifo, std::string("/dev/zero"), fs::temp_directory_path().string(),
        std::string("/nonexistent/picture.jpg")}) {
    BMPImage image{};
    PhotoInfo info;
    std::string error;
    EXPECT_EQ(LoadPhoto(path.c_str(), PhotoOptions{}, image, info, error), 0) << path;
    EXPECT_FALSE(error.empty()) << path;
  }
  fs::remove(fifo);
}

#ifdef BMPFACE_HAVE_VIPS

const Backend* Vips() {
  std::string error;
  const Backend* backend = LoadBackend(error);
  EXPECT_NE(backend, nullptr) << error;
  EXPECT_TRUE(backend->start(0, error)) << error;
  return backend;
}

// A picture made by libvips from `rgb` (width x height x bands bytes), saved with `suffix`
// options; `setup` may change the image before the save (orientation, profile).
std::vector<uint8_t> Save(const std::vector<uint8_t>& pixels, int width, int height, int bands,
                          const char* suffix, VipsInterpretation type = VIPS_INTERPRETATION_sRGB,
                          VipsBandFormat format = VIPS_FORMAT_UCHAR) {
  Vips();
  VipsImage* raw =
      vips_image_new_from_memory(pixels.data(), pixels.size(), width, height, bands, format);
  VipsImage* typed = nullptr;
  EXPECT_EQ(vips_copy(raw, &typed, "interpretation", type, nullptr), 0);
  void* buffer = nullptr;
  size_t length = 0;
  EXPECT_EQ(vips_image_write_to_buffer(typed, suffix, &buffer, &length, nullptr), 0)
      << vips_error_buffer();
  std::vector<uint8_t> out(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + length);
  g_free(buffer);
  g_object_unref(typed);
  g_object_unref(raw);
  return out;
}

// One colour on a w x h picture, as bytes of `bands` each.
std::vector<uint8_t> Plain(int w, int h, std::vector<uint8_t> pixel) {
  std::vector<uint8_t> out;
  for (int i = 0; i < w * h; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

// The pixel at (0, 0) of a loaded picture, as "R G B" (and " A").
std::string First(const BMPImage& image) {
  const uint8_t* p = image.pixels;
  std::string s = std::to_string(p[2]) + " " + std::to_string(p[1]) + " " + std::to_string(p[0]);
  if (image.bytesPerPixel == 4) s += " " + std::to_string(p[3]);
  return s;
}

// Conversion to 8-bit sRGB of greyscale, 16-bit, alpha, CMYK (libvips' built-in profile) and Lab.
TEST(VipsDecode, ConvertsToEightBitSRGB) {
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* want;
    int tolerance;
  } cases[] = {
      {"RGB PNG", Save(Plain(4, 4, {200, 90, 60}), 4, 4, 3, ".png"), "200 90 60", 0},
      {"grey PNG", Save(Plain(4, 4, {77}), 4, 4, 1, ".png", VIPS_INTERPRETATION_B_W), "77 77 77",
       0},
      {"grey and alpha PNG", Save(Plain(4, 4, {77, 128}), 4, 4, 2, ".png", VIPS_INTERPRETATION_B_W),
       "77 77 77 128", 0},
      {"RGBA TIFF", Save(Plain(4, 4, {200, 90, 60, 10}), 4, 4, 4, ".tif"), "200 90 60 10", 0},
      {"16-bit RGB PNG",
       Save(Plain(4, 4, {0x00, 0xC8, 0x00, 0x5A, 0x00, 0x3C}), 4, 4, 3, ".png",
            VIPS_INTERPRETATION_RGB16, VIPS_FORMAT_USHORT),
       "200 90 60", 1},
      {"CMYK JPEG", Save(Plain(8, 8, {0, 0, 0, 0}), 8, 8, 4, ".jpg", VIPS_INTERPRETATION_CMYK),
       "255 255 255", 3},
  };
  for (const auto& c : cases) {
    BMPImage image{};
    PhotoInfo info;
    std::string error;
    ASSERT_EQ(LoadPhotoFromMemory(c.file.data(), c.file.size(), {}, image, info, error), 1)
        << c.name << ": " << error;
    const std::string got = First(image);
    int a[4] = {0, 0, 0, 0}, b[4] = {0, 0, 0, 0};
    const int na = std::sscanf(got.c_str(), "%d %d %d %d", a, a + 1, a + 2, a + 3);
    const int nb = std::sscanf(c.want, "%d %d %d %d", b, b + 1, b + 2, b + 3);
    EXPECT_EQ(na, nb) << c.name << ": " << got;
    for (int i = 0; i < 4; ++i)
      EXPECT_LE(std::abs(a[i] - b[i]), c.tolerance) << c.name << ": " << got;
    EXPECT_EQ(info.alpha, nb == 4) << c.name;
    FreeBMP(image);
  }
}

// Only the loaders bmpface uses: a picture libvips would read with any other loader is refused,
// and libvips itself refuses its untrusted loaders once the layer has started it.
TEST(VipsDecode, OnlyTheLoadersInUse) {
  Vips();
  const std::string ppm = "P6\n2 2\n255\n" + std::string(12, 'x');
  const std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"><rect width=\"4\" "
      "height=\"4\"/></svg>";
  const std::string csv = "1,2\n3,4\n";
  for (const std::string& text : {ppm, svg, csv}) {
    BMPImage image{};
    PhotoInfo info;
    std::string error;
    EXPECT_EQ(LoadPhotoFromMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size(), {},
                                  image, info, error),
              0);
    EXPECT_EQ(error, "not a picture bmpface reads") << text;
    VipsImage* direct = vips_image_new_from_buffer(text.data(), text.size(), "", nullptr);
    EXPECT_EQ(direct, nullptr) << "libvips read an untrusted format: " << text;
    if (direct != nullptr) g_object_unref(direct);
    vips_error_clear();
  }
  // The modules of untrusted loaders are never loaded at all.
  EXPECT_EQ(vips_type_find("VipsOperation", "magickload_buffer"), 0u);
  EXPECT_EQ(vips_type_find("VipsOperation", "pdfload_buffer"), 0u);
}

TEST(VipsDecode, TruncatedAndCorruptPicturesAreRefused) {
  std::vector<uint8_t> pixels(64 * 64 * 3);
  std::mt19937 random(3);
  for (uint8_t& b : pixels) b = static_cast<uint8_t>(random());
  for (const char* suffix : {".jpg", ".png", ".webp", ".tif", ".gif"}) {
    std::vector<uint8_t> file = Save(pixels, 64, 64, 3, suffix);
    for (const size_t keep : {file.size() / 2, size_t{40}}) {
      BMPImage image{};
      PhotoInfo info;
      std::string error;
      EXPECT_EQ(LoadPhotoFromMemory(file.data(), keep, {}, image, info, error), 0)
          << suffix << " cut to " << keep;
      EXPECT_FALSE(error.empty());
    }
  }
}

// A lossless crop keeps the pixels exactly; --size gives exactly that size; JPEG has no alpha
// (transparent parts on white); no metadata but the profile.
TEST(VipsEncode, FormatsSizesAlphaAndMetadata) {
  std::vector<uint8_t> bgra(30 * 20 * 4);
  std::mt19937 random(5);
  for (uint8_t& b : bgra) b = static_cast<uint8_t>(random());
  BMPImage crop{};
  crop.pixels = bgra.data();
  DescribePackedPicture(crop, 30, 20, 4);
  PhotoInfo alpha;
  alpha.alpha = true;
  for (const char* name : {"a.png", "a.tif", "a.webp", "a.bmp"}) {
    PhotoOptions options;
    if (std::strcmp(name, "a.webp") == 0) options.quality = 100;
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeCrop(crop, name, options, alpha, bytes, error)) << name << ": " << error;
    BMPImage back{};
    PhotoInfo info;
    ASSERT_EQ(LoadPhotoFromMemory(bytes.data(), bytes.size(), {}, back, info, error), 1)
        << name << ": " << error;
    ASSERT_EQ(back.width, 30);
    ASSERT_EQ(back.height, 20);
    ASSERT_EQ(back.bytesPerPixel, 4) << name;
    if (std::strcmp(name, "a.webp") != 0) {  // lossy WebP changes the colours
      for (int32_t y = 0; y < 20; ++y) {
        ASSERT_EQ(std::memcmp(PixelAt(back, 0, y), PixelAt(crop, 0, y), 30 * 4), 0)
            << name << " row " << y;
      }
    }
    FreeBMP(back);
  }
  // A 24-bit picture held with packed rows (as the decoders give it): the BMP gets 4-byte rows.
  {
    std::vector<uint8_t> bgr(bgra.begin(), bgra.begin() + 5 * 3 * 3);
    BMPImage packed{};
    packed.pixels = bgr.data();
    DescribePackedPicture(packed, 5, 3, 3);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeCrop(packed, "p.bmp", {}, PhotoInfo{}, bytes, error)) << error;
    EXPECT_EQ(bytes.size(), 54u + 3 * 16);
    BMPImage back{};
    ASSERT_EQ(LoadBMPFromMemory(bytes.data(), bytes.size(), back), 1);
    for (int32_t y = 0; y < 3; ++y) {
      EXPECT_EQ(std::memcmp(PixelAt(back, 0, y), PixelAt(packed, 0, y), 5 * 3), 0) << "row " << y;
    }
    FreeBMP(back);
  }
  // JPEG of a fully transparent crop: white.
  std::vector<uint8_t> clear = Plain(30, 20, {0, 0, 0, 0});
  crop.pixels = clear.data();
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(EncodeCrop(crop, "a.jpg", {}, alpha, bytes, error)) << error;
  BMPImage back{};
  PhotoInfo info;
  ASSERT_EQ(LoadPhotoFromMemory(bytes.data(), bytes.size(), {}, back, info, error), 1);
  EXPECT_EQ(back.bytesPerPixel, 3);
  EXPECT_EQ(First(back), "255 255 255");
  FreeBMP(back);

  // Sizes: every format, 32-bit BMPs keep their fourth byte.
  for (const char* name : {"s.jpg", "s.png", "s.bmp", "s.webp", "s.tif"}) {
    PhotoOptions options;
    options.framing.sizeW = 45;
    options.framing.sizeH = 17;
    ASSERT_TRUE(EncodeCrop(crop, name, options, PhotoInfo{}, bytes, error)) << name << error;
    ASSERT_EQ(LoadPhotoFromMemory(bytes.data(), bytes.size(), {}, back, info, error), 1) << name;
    EXPECT_EQ(back.width, 45) << name;
    EXPECT_EQ(back.height, 17) << name;
    if (std::strcmp(name, "s.bmp") == 0) {
      EXPECT_EQ(back.bytesPerPixel, 4);
    }
    FreeBMP(back);
  }

  // Metadata: none but the profile, when there is one; nothing that turns the picture.
  crop.pixels = bgra.data();
  PhotoInfo withProfile;
  {
    // A real profile: libvips' own sRGB, read back from a picture transformed to it.
    Vips();
    VipsImage* raw =
        vips_image_new_from_memory(bgra.data(), 30 * 20 * 3, 30, 20, 3, VIPS_FORMAT_UCHAR);
    VipsImage* tagged = nullptr;
    ASSERT_EQ(vips_icc_transform(raw, &tagged, "srgb", "input_profile", "srgb", "embedded", FALSE,
                                 nullptr),
              0)
        << vips_error_buffer();
    const void* data = nullptr;
    size_t length = 0;
    ASSERT_EQ(vips_image_get_blob(tagged, VIPS_META_ICC_NAME, &data, &length), 0);
    withProfile.icc.assign(static_cast<const uint8_t*>(data),
                           static_cast<const uint8_t*>(data) + length);
    g_object_unref(tagged);
    g_object_unref(raw);
  }
  for (const PhotoInfo* i : {&alpha, &withProfile}) {
    for (const char* name : {"m.jpg", "m.png", "m.webp", "m.tif"}) {
      ASSERT_TRUE(EncodeCrop(crop, name, {}, *i, bytes, error)) << name << error;
      VipsImage* image = vips_image_new_from_buffer(bytes.data(), bytes.size(), "", nullptr);
      ASSERT_NE(image, nullptr) << name;
      const bool hasProfile = vips_image_get_typeof(image, VIPS_META_ICC_NAME) != 0;
      EXPECT_EQ(hasProfile, !i->icc.empty()) << name;
      EXPECT_EQ(vips_image_get_typeof(image, VIPS_META_EXIF_NAME), 0u) << name;
      EXPECT_EQ(vips_image_get_typeof(image, VIPS_META_XMP_NAME), 0u) << name;
      int orientation = 1;
      if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) != 0) {
        vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation);
      }
      EXPECT_EQ(orientation, 1) << name;
      g_object_unref(image);
    }
  }
}

#endif  // BMPFACE_HAVE_VIPS

}  // namespace
}  // namespace bmpface::photo
