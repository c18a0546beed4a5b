// bmpface explain draws the library's own decision.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

int Explain(const std::string& input, const std::string& output) {
  const std::string command =
      std::string(BMPFACE_CLI) + " explain '" + input + "' '" + output + "' >/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every pixel of the inclusive box's outermost ring has `colour`; reports the first that has not.
void ExpectRing(const BMPImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, BGR colour,
                const char* what) {
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      if (x != x0 && x != x1 && y != y0 && y != y1) continue;
      const uint8_t* p = PixelAt(image, x, y);
      ASSERT_NE(p, nullptr) << what << " leaves the picture at " << x << "," << y;
      ASSERT_TRUE(p[0] == colour.b && p[1] == colour.g && p[2] == colour.r)
          << what << " at " << x << "," << y << ": " << int{p[2]} << " " << int{p[1]} << " "
          << int{p[0]} << " (RGB)";
    }
  }
}

// Explains `picture` into a BMP and checks that the bold rectangle is the library's. Returns the
// loaded explanation (release with FreeBMP).
BMPImage ExplainAndCheckRectangle(const std::string& input, const test::TempDir& dir) {
  BMPImage source, explained{};
  FaceRect rect{};
  EXPECT_EQ(LoadBMP(input.c_str(), source), 1);
  EXPECT_EQ(DetectFace(source, rect), 1);
  EXPECT_EQ(Explain(input, dir.Path("explained.bmp")), 0);
  EXPECT_EQ(LoadBMP(dir.Path("explained.bmp").c_str(), explained), 1);
  EXPECT_EQ(explained.width, source.width);
  EXPECT_EQ(explained.height, source.height);
  ExpectRing(explained, rect.x, rect.y, rect.x + rect.width - 1, rect.y + rect.height - 1,
             kFaceColour, "face rectangle");
  FreeBMP(source);
  return explained;
}

TEST(Explain, OutlinesCandidatesAndRejectsAndDrawsTheLibrarysRectangle) {
  test::Picture picture(200, 200);
  picture.Fill(40, 40, 79, 79, test::kSkin);     // the face: its rectangle covers rows 24 to 59
  picture.Fill(95, 120, 194, 159, test::kSkin);  // 100 x 40: fails the aspect test
  picture.Fill(5, 150, 14, 159, test::kSkin);    // 10 x 10: too small to be outlined
  test::TempDir dir;
  test::WriteFile(dir.Path("in.bmp"), test::EncodeBMP(picture));
  BMPImage explained = ExplainAndCheckRectangle(dir.Path("in.bmp"), dir);
  // Bottom edges, which neither the rectangle nor a label covers.
  ExpectRing(explained, 40, 79, 79, 79, kCandidateColour, "chosen region");
  ExpectRing(explained, 95, 159, 194, 159, kRejectedColour, "rejected region");
  // A region below 30 x 30 is only tinted: its edge looks like its middle.
  const uint8_t* middle = PixelAt(explained, 10, 155);
  ExpectRing(explained, 5, 159, 14, 159, {middle[0], middle[1], middle[2]}, "small region");
  FreeBMP(explained);
}

TEST(Explain, SampleAsBMPAndPNG) {
  const std::string sample = test::SourceDir() + "/examples/hopper.bmp";
  test::TempDir dir;
  BMPImage explained = ExplainAndCheckRectangle(sample, dir);
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
