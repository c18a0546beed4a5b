// Whole requests through the export (test build) while the k-th memory request fails, for every k
// a request makes: each failure must end in its status and message, leave no output file behind
// and leak nothing (checked by LeakSanitizer in the sanitizer builds).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/request.h"
#include "bmpface.h"
#include "image/bmp_header.h"
#include "platform/platform.h"
#include "test_support.h"

namespace bmpface::test {
namespace {

struct FaultCase {
  const char* name;
  Picture picture;
  bool hasFace;
};

std::vector<FaultCase> Cases() {
  Picture face24(100, 100, 24);
  face24.Fill(40, 40, 69, 69, kSkin);
  Picture face32(100, 100, 32);
  face32.Fill(40, 40, 69, 69, kSkin);
  // More runs wait at once than the grower holds in place, so its list's block and the block's
  // doubling are among the requests.
  Picture big(1250, 900, 24);
  for (const Box& b : CombBoxes(20, 40, 1119, 600)) big.Fill(b.x0, b.y0, b.x1, b.y1, kSkin);
  Picture none(64, 48, 24);
  none.Fill(0, 0, 20, 20, kSkin);  // too small to be a face
  return {{"face24", face24, true},
          {"face32", face32, true},
          {"bigRegion", big, true},
          {"noFace", none, false}};
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(FaultInjection, EveryMemoryRequestOfARequest) {
  for (const FaultCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::wstring in = Wide(dir.Path("in.bmp"));
    const std::string outPath = dir.Path("out.bmp");
    WriteFile(dir.Path("in.bmp"), EncodeBMP(c.picture));

    PlatformFailRequest(0);
    ASSERT_EQ(BMPFaceExtract(in.c_str(), Wide(outPath).c_str()),
              c.hasFace ? BMPFACE_OK : BMPFACE_NO_FACE);
    const long total = PlatformRequestCount();
    std::remove(outPath.c_str());

    // Requests in order: input path, source pixels, the search's grids and lists of runs, then
    // (with a face) the output pixels, the output path and the stream the output is written
    // through, made after the file is.
    for (long k = 1; k <= total; ++k) {
      SCOPED_TRACE("failing request " + std::to_string(k) + " of " + std::to_string(total));
      int32_t expected = BMPFACE_NO_FACE;
      if (k <= 2) expected = BMPFACE_LOAD_FAILED;
      if (c.hasFace && k == total - 2) expected = BMPFACE_EXTRACT_FAILED;
      if (c.hasFace && k >= total - 1) expected = BMPFACE_SAVE_FAILED;
      PlatformFailRequest(k);
      int32_t status = 0;
      const std::string printed =
          CaptureStdout([&] { status = BMPFaceExtract(in.c_str(), Wide(outPath).c_str()); });
      PlatformFailRequest(0);
      EXPECT_EQ(status, expected);
      EXPECT_EQ(printed, expected == BMPFACE_NO_FACE ? "Error: No face detected in image\n"
                         : expected == BMPFACE_EXTRACT_FAILED
                             ? "Error: Failed to extract face region\n"
                         : expected == BMPFACE_SAVE_FAILED ? "Error: Failed to save output file\n"
                                                           : "");
      EXPECT_FALSE(FileExists(outPath));
    }
  }
}

// Headers declaring the largest pictures the 32-bit size arithmetic allows, in files of a few
// hundred bytes: refused without obtaining any memory beyond the input path's buffer.
TEST(ResourceBound, HugeDeclarationsInTinyFilesObtainNothing) {
  struct Declared {
    const char* name;
    int32_t bits, width, height;
  };
  const Declared cases[] = {
      {"widest24", 24, 89478484, 8},   // rowStride 268435452, 2^31 - 36 bytes of pixels
      {"widest32", 32, 67108863, -8},  // top-down
      {"tallest", 32, 1, 536870911},   // 4-byte rows
      {"square32", 32, 23170, 23170},  // about 2 GB
  };
  TempDir dir;
  const std::string path = dir.Path("huge.bmp");
  for (const Declared& d : cases) {
    SCOPED_TRACE(d.name);
    Picture tiny(8, 8, d.bits);
    std::vector<uint8_t> bytes = EncodeBMP(tiny);
    bytes.resize(300);
    PutLE32(bytes, kOffBiWidth, uint32_t(d.width));
    PutLE32(bytes, kOffBiHeight, uint32_t(d.height));
    WriteFile(path, bytes);
    PlatformFailRequest(0);
    EXPECT_EQ(BMPFaceExtract(Wide(path).c_str(), Wide(dir.Path("out.bmp")).c_str()),
              BMPFACE_LOAD_FAILED);
    EXPECT_EQ(PlatformRequestCount(), 1);  // the input path only
  }
}

// A picture made in place of a file: the header of a real file of that size, and skin where the
// shape says. For requests too large to build as a file in a test.
struct Synthetic {
  int32_t width, height, bits;
  bool (*skin)(int32_t x, int32_t y, int32_t width, int32_t height);
};

int LoadSynthetic(void* context, const char*, BMPImage& image, const RowSink*) {
  const Synthetic& s = *static_cast<const Synthetic*>(context);
  std::vector<uint8_t> bytes = EncodeBMP(Picture(1, 1, s.bits));
  PutLE32(bytes, kOffBiWidth, uint32_t(s.width));
  PutLE32(bytes, kOffBiHeight, uint32_t(s.height));
  uint8_t header[kHeaderBytes];
  std::memcpy(header, bytes.data(), kHeaderBytes);
  UnpackBMPHeaders(header, image);
  if (CheckBMPHeader(image, UINT64_MAX) == 0) return 0;
  image.pixels =
      static_cast<uint8_t*>(PlatformCalloc(size_t(image.height) * size_t(image.rowStride), 1));
  if (image.pixels == nullptr) return 0;
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      if (s.skin(x, y, s.width, s.height)) std::memcpy(PixelAt(image, x, y), &kSkin, 3);
  return 1;
}

int SaveNothing(void*, const char*, const BMPImage&) { return 1; }

// The most memory a whole request holds at once, the picture's pixels included, is at most 1.6 x
// the pixel bytes plus 2 bytes a pixel, on every shape: counted by the test build's memory layer,
// so the check is exact and takes no time into account.
TEST(ResourceBound, PeakWithinBoundOnEveryShape) {
  // clang-format off
  const Synthetic cases[] = {
      // A face: the pixels and the crop are held at once.
      {1000, 800, 24, [](int32_t x, int32_t y, int32_t, int32_t) {
         return x >= 200 && x < 700 && y >= 100 && y < 600; }},
      // One pixel a row: a block per row, or a word per row, would be many times the pixels.
      {1, 10000000, 24, [](int32_t, int32_t y, int32_t, int32_t) { return y % 10 < 7; }},
      // Strips three pixels wide joined end to end: a fill pixel by pixel leaves about two thirds
      // of the pixels waiting.
      {4000, 3000, 24, [](int32_t x, int32_t y, int32_t, int32_t h) {
         return x % 4 != 3 || y == ((x / 4) % 2 == 0 ? h - 1 : 0); }},
      {8000, 6000, 24, [](int32_t x, int32_t y, int32_t, int32_t h) {
         return x % 4 != 3 || y == ((x / 4) % 2 == 0 ? h - 1 : 0); }},
      // Full rows between rows of single pixels: many runs wait at once, in 32 bits.
      {2000, 1500, 32, [](int32_t x, int32_t y, int32_t, int32_t) {
         return y % 2 == 0 || x % 2 == 0; }},
  };
  // clang-format on
  for (const Synthetic& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    RequestHooks hooks{};
    hooks.context = const_cast<Synthetic*>(&c);
    hooks.load = LoadSynthetic;
    hooks.save = SaveNothing;
    const double pixels = double(c.width) * double(c.height);
    const double pixelBytes = double(c.height) * double(BMPRowStride(c.bits, c.width));
    PlatformFailRequest(0);
    const Outcome outcome = RunRequest(nullptr, nullptr, &hooks, nullptr);
    EXPECT_NE(outcome, Outcome::kLoadFailed);
    EXPECT_LE(double(PlatformBytesPeak()), 1.6 * pixelBytes + 2.0 * pixels)
        << "peak " << PlatformBytesPeak() << " bytes for " << pixelBytes << " pixel bytes";
    EXPECT_EQ(PlatformBytesHeld(), 0u);
  }
}

}  // namespace
}  // namespace bmpface::test
