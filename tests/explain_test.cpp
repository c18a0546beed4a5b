// bmpface explain draws the library's own decision, legibly at any size.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#ifdef BMPFACE_HAVE_PNG
#include <png.h>
#endif

#include "detect/face_search.h"
#include "image/bmp_image.h"
#include "test_support.h"

namespace bmpface {
namespace {

using test::BGR;

// The colours explain draws with, as the BGR bytes of its BMP output.
constexpr BGR kFaceColour{0, 215, 255};
constexpr BGR kCandidateColour{40, 230, 40};
constexpr BGR kRejectedColour{50, 50, 255};
constexpr BGR kCropColour{255, 60, 255};
constexpr BGR kInk{255, 255, 255};

// A picture is drawn enlarged, whole pixels to a k x k block, until its longer side has 480.
int32_t Magnification(int32_t width, int32_t height) {
  const int32_t longSide = std::max(width, height);
  return std::max<int32_t>(1, (480 + longSide - 1) / longSide);
}

int Explain(const std::string& input, const std::string& output, const std::string& options = "",
            const std::string& text = "/dev/null") {
  const std::string command = std::string(BMPFACE_CLI) + " explain '" + input + "' '" + output +
                              "' " + options + " >'" + text + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Is(const uint8_t* p, BGR c) { return p[0] == c.b && p[1] == c.g && p[2] == c.r; }

// Every pixel of the inclusive box's outermost ring has `colour`; reports the first that has not.
void ExpectRing(const BMPImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, BGR colour,
                const char* what) {
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      if (x != x0 && x != x1 && y != y0 && y != y1) continue;
      const uint8_t* p = PixelAt(image, x, y);
      ASSERT_NE(p, nullptr) << what << " leaves the picture at " << x << "," << y;
      ASSERT_TRUE(Is(p, colour)) << what << " at " << x << "," << y << ": " << int{p[2]} << " "
                                 << int{p[1]} << " " << int{p[0]} << " (RGB)";
    }
  }
}

// The ring of a rectangle of the picture, on the enlarged drawing.
void ExpectRectRing(const BMPImage& image, const FaceRect& r, int32_t k, BGR colour,
                    const char* what) {
  ExpectRing(image, r.x * k, r.y * k, (r.x + r.width) * k - 1, (r.y + r.height) * k - 1, colour,
             what);
}

// Explains `input` into a BMP and checks that the bold rectangle is the library's, enlarged `k`
// times, with the legend below the picture. Returns the loaded explanation (release with FreeBMP).
BMPImage ExplainAndCheckRectangle(const std::string& input, const test::TempDir& dir, int32_t& k) {
  BMPImage source, explained{};
  FaceRect rect{};
  EXPECT_EQ(LoadBMP(input.c_str(), source), 1);
  EXPECT_EQ(DetectFace(source, rect), 1);
  k = Magnification(source.width, source.height);
  EXPECT_EQ(Explain(input, dir.Path("explained.bmp")), 0);
  EXPECT_EQ(LoadBMP(dir.Path("explained.bmp").c_str(), explained), 1);
  EXPECT_GE(explained.width, source.width * k);
  EXPECT_GT(explained.height, source.height * k);  // the legend
  ExpectRectRing(explained, rect, k, kFaceColour, "face rectangle");
  FreeBMP(source);
  return explained;
}

// The rows of the legend band (below the picture) that hold ink, as runs: [first, last] pairs.
std::vector<std::pair<int32_t, int32_t>> InkRuns(const BMPImage& image, int32_t top) {
  std::vector<std::pair<int32_t, int32_t>> runs;
  for (int32_t y = top; y < image.height; ++y) {
    bool ink = false;
    for (int32_t x = 0; x < image.width && !ink; ++x) ink = Is(PixelAt(image, x, y), kInk);
    if (!ink) continue;
    if (!runs.empty() && runs.back().second == y - 1) {
      runs.back().second = y;
    } else {
      runs.emplace_back(y, y);
    }
  }
  return runs;
}

TEST(Explain, OutlinesCandidatesAndRejectsAndDrawsTheLibrarysRectangle) {
  test::Picture picture(200, 200);
  picture.Fill(40, 40, 79, 79, test::kSkin);     // the face: its rectangle covers rows 24 to 59
  picture.Fill(95, 120, 194, 159, test::kSkin);  // 100 x 40: fails the aspect test
  picture.Fill(5, 150, 14, 159, test::kSkin);    // 10 x 10: too small to be outlined
  test::TempDir dir;
  test::WriteFile(dir.Path("in.bmp"), test::EncodeBMP(picture));
  int32_t k = 0;
  BMPImage explained = ExplainAndCheckRectangle(dir.Path("in.bmp"), dir, k);
  EXPECT_EQ(k, 3);
  // Bottom edges, which neither the rectangle nor a label covers.
  ExpectRing(explained, 40 * k, 80 * k - 1, 80 * k - 1, 80 * k - 1, kCandidateColour,
             "chosen region");
  ExpectRing(explained, 95 * k, 160 * k - 1, 195 * k - 1, 160 * k - 1, kRejectedColour,
             "rejected region");
  // A region below 30 x 30 is only tinted: its edge looks like its middle.
  const uint8_t* middle = PixelAt(explained, 10 * k, 155 * k);
  ExpectRing(explained, 5 * k, 160 * k - 1, 15 * k - 1, 160 * k - 1,
             {middle[0], middle[1], middle[2]}, "small region");
  FreeBMP(explained);
}

// The text output names the region the search chose, which need not be the first candidate, and
// tells each rejected region's test in words.
TEST(Explain, TextNamesTheChosenRegionAndEachFailedTest) {
  test::Picture picture(200, 200);
  picture.Fill(10, 10, 44, 44, test::kSkin);     // a candidate, met first
  picture.Fill(100, 60, 159, 119, test::kSkin);  // a larger one: it takes the lead
  picture.Fill(20, 100, 54, 134, test::kSkin);   // a candidate after the winner
  picture.Fill(60, 150, 159, 179, test::kSkin);  // 100 x 30: fails the aspect test
  test::TempDir dir;
  test::WriteFile(dir.Path("in.bmp"), test::EncodeBMP(picture));
  ASSERT_EQ(Explain(dir.Path("in.bmp"), dir.Path("x.bmp"), "", dir.Path("text")), 0);
  const std::vector<uint8_t> bytes = test::ReadFile(dir.Path("text"));
  const std::string text(bytes.begin(), bytes.end());
  const char* const lines[] = {
      ": face ",
      "\n  region 10 10 35 35, 1225 pixels: candidate, score ",
      "\n  region 100 60 60 60, 3600 pixels: chosen, score ",
      "\n  region 20 100 35 35, 1225 pixels: candidate, score ",
      "\n  region 60 150 100 30, 3000 pixels: fails test 5, width / height outside 0.5 to 2\n",
  };
  size_t at = 0;
  for (const char* line : lines) {
    at = text.find(line, at);
    ASSERT_NE(at, std::string::npos) << "no \"" << line << "\" in order in:\n" << text;
  }
}

TEST(Explain, DrawsTheFramedCropToo) {
  test::Picture picture(600, 600);
  picture.Fill(200, 100, 299, 219, test::kSkin);
  test::TempDir dir;
  test::WriteFile(dir.Path("in.bmp"), test::EncodeBMP(picture));
  ASSERT_EQ(Explain(dir.Path("in.bmp"), dir.Path("x.bmp"), "--margin 0.25 --aspect 1:1"), 0);
  BMPImage explained{};
  ASSERT_EQ(LoadBMP(dir.Path("x.bmp").c_str(), explained), 1);
  // Face: 190 52 120 108; margin 30 and 27: 160 25 180 162; square about its centre: 160 16 180
  // 180.
  ExpectRectRing(explained, {160, 16, 180, 180}, 1, kCropColour, "framed crop");
  ExpectRectRing(explained, {190, 52, 120, 108}, 1, kFaceColour, "face rectangle");
  FreeBMP(explained);
}

// Legible on a tiny picture (drawn enlarged) and on a 12-megapixel one: glyphs of the legend at
// least 14 pixels tall on the first, 0.8 % of the height on the second, and the legend's lines
// (the face, the colours, the seven tests) all there.
TEST(Explain, LegibleAt40x40And4000x3000) {
  const struct {
    int32_t width, height;
    test::Box face;
    int32_t minGlyph;
  } cases[] = {{40, 40, {4, 2, 36, 34}, 14}, {4000, 3000, {1500, 600, 2299, 1599}, 24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    test::Picture picture(c.width, c.height);
    picture.Fill(c.face.x0, c.face.y0, c.face.x1, c.face.y1, test::kSkin);
    test::TempDir dir;
    test::WriteFile(dir.Path("in.bmp"), test::EncodeBMP(picture));
    int32_t k = 0;
    BMPImage explained = ExplainAndCheckRectangle(dir.Path("in.bmp"), dir, k);
    const auto runs = InkRuns(explained, c.height * k);
    ASSERT_FALSE(runs.empty());
    for (const auto& run : runs) {
      EXPECT_GE(run.second - run.first + 1, c.minGlyph) << "glyphs at row " << run.first;
    }
    // 3 lines of figures, 5 colours, 7 tests: 15 lines, in at most 3 columns.
    EXPECT_GE(runs.size(), 5u);
    FreeBMP(explained);
  }
}

TEST(Explain, SampleAsBMPAndPNG) {
  const std::string sample = test::SourceDir() + "/examples/hopper.bmp";
  test::TempDir dir;
  int32_t k = 0;
  BMPImage explained = ExplainAndCheckRectangle(sample, dir, k);
  EXPECT_EQ(k, 1);
#ifdef BMPFACE_HAVE_PNG
  // The PNG holds the same pixels.
  ASSERT_EQ(Explain(sample, dir.Path("explained.png")), 0);
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&png, dir.Path("explained.png").c_str()), 0);
  png.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
  ASSERT_NE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr), 0);
  ASSERT_EQ(png.width, static_cast<png_uint_32>(explained.width));
  ASSERT_EQ(png.height, static_cast<png_uint_32>(explained.height));
  const size_t row = static_cast<size_t>(explained.width) * 3;
  for (int32_t y = 0; y < explained.height; ++y) {
    ASSERT_EQ(std::memcmp(PixelAt(explained, 0, y), &pixels[y * row], row), 0) << "row " << y;
  }
#endif
  FreeBMP(explained);
}

}  // namespace
}  // namespace bmpface
