// The pixel calls, over the test build of the core so that memory requests can fail: arguments
// refused before any pixel is read, the export's answers on the same pixels in any row layout,
// the regions the search judged, and memory that runs out reported as such. Nothing is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "bmpface.h"
#include "bmpface_pixels.h"
#include "platform/platform.h"
#include "test_support.h"

namespace bmpface::test {
namespace {

constexpr BMPFaceRect kUntouched{-7, -7, -7, -7};

bool operator==(const BMPFaceRect& a, const BMPFaceRect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// Pixels in memory in one of the layouts a caller may have.
struct Layout {
  const char* name;
  int32_t extraStride;  // bytes of fill after each row (0xEE), none after the last
};
constexpr Layout kLayouts[] = {{"packed", 0}, {"with row fill", 13}};

// The rows of `image` in `layout`, in a block that ends with the last pixel, so that a read
// beyond it shows under AddressSanitizer.
std::vector<uint8_t> Arrange(const BMPImage& image, const Layout& layout, int32_t& stride) {
  const size_t rowBytes = size_t(image.width) * size_t(image.bytesPerPixel);
  stride = int32_t(rowBytes) + layout.extraStride;
  std::vector<uint8_t> block(size_t(image.height - 1) * size_t(stride) + rowBytes, 0xEE);
  for (int32_t y = 0; y < image.height; ++y)
    std::memcpy(block.data() + size_t(y) * size_t(stride), PixelAt(image, 0, y), rowBytes);
  return block;
}

TEST(PixelApi, RefusesBadArgumentsBeforeReadingAPixel) {
  const uint8_t pixel[4] = {60, 90, 200, 0};
  struct Row {
    const char* name;
    const uint8_t* pixels;
    int32_t width, height, stride, bpp;
    bool nullRect = false;
  };
  const Row rows[] = {
      {"null pixels", nullptr, 1, 1, 3, 3},
      {"null rectangle", pixel, 1, 1, 3, 3, true},
      {"width 0", pixel, 0, 1, 3, 3},
      {"height 0", pixel, 1, 0, 3, 3},
      {"negative height", pixel, 1, -1, 3, 3},
      {"2 bytes per pixel", pixel, 1, 1, 3, 2},
      {"5 bytes per pixel", pixel, 1, 1, 5, 5},
      {"stride below a row", pixel, 2, 2, 5, 3},
      {"negative stride", pixel, 1, 2, -3, 3},
      {"a row beyond 32 bits", pixel, INT32_MAX / 4 + 1, 1, INT32_MAX, 4},
      {"2^31 bytes to read", pixel, 1 << 14, 1 << 15, 1 << 16, 4},
      {"far rows beyond 32 bits", pixel, 1, 1 << 20, 1 << 12, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    BMPFaceRect rect = kUntouched;
    BMPFaceRect* out = r.nullRect ? nullptr : &rect;
    EXPECT_EQ(BMPFaceDetectPixels(r.pixels, r.width, r.height, r.stride, r.bpp, out),
              BMPFACE_BAD_ARGUMENTS);
    EXPECT_EQ(
        BMPFaceWalkRegions(r.pixels, r.width, r.height, r.stride, r.bpp, nullptr, nullptr, out),
        BMPFACE_BAD_ARGUMENTS);
    uint8_t crop[4] = {1, 2, 3, 4};
    const BMPFaceRect one{0, 0, 1, 1};
    EXPECT_EQ(BMPFaceExtractPixels(r.pixels, r.width, r.height, r.stride, r.bpp,
                                   r.nullRect ? nullptr : &one, crop, sizeof crop),
              BMPFACE_BAD_ARGUMENTS);
    EXPECT_TRUE(rect == kUntouched);
    EXPECT_EQ(crop[0], 1);
  }

  // The crop's own arguments, on a good 3 x 2 picture of 4-byte pixels with 4 bytes of row fill.
  const uint8_t picture[28] = {};
  struct CropRow {
    const char* name;
    BMPFaceRect rect;
    size_t size;
    bool nullCrop = false;
  };
  const CropRow cropRows[] = {
      {"null crop", {0, 0, 3, 2}, 24, true},
      {"crop one byte short", {0, 0, 3, 2}, 23},
      {"no width", {0, 0, 0, 2}, 24},
      {"negative height", {0, 0, 3, -2}, 24},
      {"left of the picture", {-1, 0, 2, 2}, 24},
      {"above the picture", {0, -1, 3, 2}, 24},
      {"past the right edge", {1, 0, 3, 2}, 24},
      {"past the bottom", {0, 1, 3, 2}, 24},
      {"edges beyond 32 bits", {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, 24},
  };
  for (const CropRow& r : cropRows) {
    SCOPED_TRACE(r.name);
    uint8_t crop[24];
    std::memset(crop, 0xAB, sizeof crop);
    EXPECT_EQ(
        BMPFaceExtractPixels(picture, 3, 2, 16, 4, &r.rect, r.nullCrop ? nullptr : crop, r.size),
        BMPFACE_BAD_ARGUMENTS);
    EXPECT_EQ(crop[0], 0xAB);
  }
}

// Generated pictures, the sample and every file of the BMP suite: wherever the export loads a
// picture, the pixel calls on its rows give its status and its crop, pixel for pixel.
TEST(PixelApi, SameAnswersAsTheExportOnTheSamePixels) {
  TempDir dir;
  std::vector<std::string> paths = {SourceDir() + "/examples/hopper.bmp"};
  std::mt19937 rng(16);
  for (int i = 0; i < 16; ++i) {
    const int32_t w = int32_t(40 + rng() % 200), h = int32_t(40 + rng() % 200);
    Picture p(w, h, i % 2 ? 32 : 24);
    for (uint8_t& byte : p.bytes) byte = uint8_t(rng() % 96);  // never skin: red below 96
    // A square that is most often a face, then boxes that may join it, beat it or be nothing.
    const int32_t side = 30 + int32_t(rng() % uint32_t(std::min(w, h) - 29));
    const int32_t x = int32_t(rng() % uint32_t(w - side + 1)), y = int32_t(rng() % uint32_t(h / 3));
    p.Fill(x, y, x + side - 1, std::min(h - 1, y + side - 1), kSkin);
    for (int k = int(rng() % 4); k > 0; --k) {
      const int32_t x0 = int32_t(rng() % uint32_t(w)), y0 = int32_t(rng() % uint32_t(h));
      p.Fill(x0, y0, std::min(w - 1, x0 + int32_t(rng() % 80)),
             std::min(h - 1, y0 + int32_t(rng() % 80)), kSkin);
    }
    paths.push_back(dir.Path("generated" + std::to_string(i) + ".bmp"));
    WriteFile(paths.back(), EncodeBMP(p, {i % 3 == 0}));
  }
  if (!SharedDir().empty()) {
    for (const char* group : {"g", "q", "b"}) {
      for (const auto& entry :
           std::filesystem::directory_iterator(SharedDir() + "/bmpsuite/" + group))
        paths.push_back(entry.path().string());
    }
  }
  const std::string outPath = dir.Path("out.bmp");
  const std::wstring out(outPath.begin(), outPath.end());
  int compared = 0;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const std::wstring in(path.begin(), path.end());
    std::remove(outPath.c_str());
    int32_t exported = 0;
    CaptureStdout([&] { exported = BMPFaceExtract(in.c_str(), out.c_str()); });
    BMPImage image{};
    if (LoadBMP(path.c_str(), image) == 0) {
      EXPECT_EQ(exported, BMPFACE_LOAD_FAILED);
      continue;
    }
    const std::vector<uint8_t> file = ReadFile(outPath);
    for (const Layout& layout : kLayouts) {
      SCOPED_TRACE(layout.name);
      int32_t stride = 0;
      const std::vector<uint8_t> pixels = Arrange(image, layout, stride);
      const int32_t bpp = image.bytesPerPixel;
      BMPFaceRect rect = kUntouched;
      std::vector<uint8_t> crop;
      int32_t detected = 0, cropped = 0;
      const std::string printed = CaptureStdout([&] {
        detected =
            BMPFaceDetectPixels(pixels.data(), image.width, image.height, stride, bpp, &rect);
        if (detected != BMPFACE_OK) return;
        crop.resize(size_t(rect.width) * size_t(rect.height) * size_t(bpp));
        cropped = BMPFaceExtractPixels(pixels.data(), image.width, image.height, stride, bpp, &rect,
                                       crop.data(), crop.size());
      });
      EXPECT_EQ(printed, "");
      ASSERT_EQ(detected, exported);
      if (detected != BMPFACE_OK) continue;
      ASSERT_EQ(cropped, BMPFACE_OK);
      // The export's file: 54 header bytes, then rows bottom-up, each filled to 4 bytes.
      ASSERT_GE(file.size(), 54u);
      ASSERT_EQ(GetLE32(file, kOffBiWidth), uint32_t(rect.width));
      ASSERT_EQ(GetLE32(file, kOffBiHeight), uint32_t(rect.height));
      const size_t rowBytes = size_t(rect.width) * size_t(bpp), fileStride = (rowBytes + 3) / 4 * 4;
      for (int32_t y = 0; y < rect.height; ++y) {
        const uint8_t* fileRow = file.data() + 54 + size_t(rect.height - 1 - y) * fileStride;
        ASSERT_EQ(std::memcmp(crop.data() + size_t(y) * rowBytes, fileRow, rowBytes), 0)
            << "crop row " << y;
      }
      ++compared;
    }
    FreeBMP(image);
  }
  EXPECT_GE(compared, 2 * 10);  // the sample and most generated pictures have a face
}

// The sample's regions of at least 30 x 30 pixels, as bmpface explain shows them.
TEST(PixelApi, WalkShowsEveryRegionAndTheChoice) {
  BMPImage image{};
  ASSERT_EQ(LoadBMP((SourceDir() + "/examples/hopper.bmp").c_str(), image), 1);
  std::vector<BMPFaceRegion> seen;
  BMPFaceRect rect = kUntouched;
  BMPFaceFacts facts{};
  ASSERT_EQ(BMPFaceWalkRegionsFacts(
                image.pixels, image.width, image.height, image.rowStride, image.bytesPerPixel,
                [](void* context, const BMPFaceRegion* region) {
                  static_cast<std::vector<BMPFaceRegion>*>(context)->push_back(*region);
                },
                &seen, &rect, &facts),
            BMPFACE_OK);
  const double pictureArea = static_cast<double>(image.width) * image.height;
  FreeBMP(image);
  EXPECT_TRUE(rect == (BMPFaceRect{72, 0, 332, 369}));
  // The facts are those of the chosen region and the candidate that came closest to it; every
  // region's pixels count towards the skin share.
  EXPECT_EQ(facts.found, 1);
  EXPECT_TRUE(facts.box == (BMPFaceRect{99, 0, 277, 410}));
  EXPECT_EQ(facts.pixelCount, 47234);
  EXPECT_FLOAT_EQ(facts.fill, 47234.0f / (277 * 410));
  EXPECT_FLOAT_EQ(facts.score, 31174.4375f);
  EXPECT_FLOAT_EQ(facts.runnerUp, 444.14166f);
  EXPECT_EQ(facts.candidates, 2);
  int64_t skin = 0;
  for (const BMPFaceRegion& region : seen) skin += region.pixelCount;
  EXPECT_FLOAT_EQ(facts.skinShare, static_cast<float>(skin / pictureArea));
  struct Expected {
    BMPFaceRect box;
    int32_t pixelCount, failedTest;
    float score;
    bool chosen;
  };
  const Expected expected[] = {{{99, 0, 277, 410}, 47234, 0, 31174.4375f, true},
                               {{35, 341, 37, 73}, 1195, 0, 444.14166f, false},
                               {{236, 476, 42, 43}, 523, 6, 0.0f, false}};
  size_t chosen = seen.size(), next = 0;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].leads == 1) chosen = i;
    if (seen[i].box.width < 30 || seen[i].box.height < 30) continue;
    ASSERT_LT(next, std::size(expected));
    const Expected& e = expected[next++];
    EXPECT_TRUE(seen[i].box == e.box) << "region " << next;
    EXPECT_EQ(seen[i].pixelCount, e.pixelCount);
    EXPECT_EQ(seen[i].failedTest, e.failedTest);
    EXPECT_FLOAT_EQ(seen[i].score, e.score);
    EXPECT_EQ(seen[i].leads == 1, e.chosen);
  }
  EXPECT_EQ(next, std::size(expected));
  ASSERT_LT(chosen, seen.size());
  EXPECT_TRUE(seen[chosen].box == expected[0].box);
  EXPECT_EQ(facts.chosenRegion, static_cast<int32_t>(chosen));
}

// A test's words as snprintf gives text: cut to the buffer, always ended, the whole length
// returned; nothing for a number that is no test.
TEST(PixelApi, TestWordsFitTheBuffer) {
  struct Row {
    int32_t test;
    size_t size;
    const char* words;
    size_t length;
  };
  const Row rows[] = {
      {1, 64, "narrower than 30 pixels", 23},
      {7, 64, "centre in the lowest 30 % of the picture", 40},
      {3, 6, "wider", 29},
      {5, 1, "", 31},
      {0, 64, "", 0},
      {BMPFACE_CANDIDATE_TESTS + 1, 64, "", 0},
      {-1, 64, "", 0},
  };
  for (const Row& row : rows) {
    char words[64];
    std::memset(words, 'x', sizeof words);
    EXPECT_EQ(BMPFaceTestWords(row.test, words, row.size), row.length) << row.test;
    EXPECT_STREQ(words, row.words) << row.test;
  }
  EXPECT_EQ(BMPFaceTestWords(2, nullptr, 0), 22u);  // a caller sizes its buffer so
}

// Every memory request of a call failing in turn: the call says no memory, leaves the rectangle
// and the crop alone, prints nothing and leaks nothing (LeakSanitizer in the sanitizer builds).
// The export would call a search without memory "no face"; the pixel calls do not.
TEST(PixelApi, MemoryThatRunsOutIsNoMemoryNeverNoFace) {
  Picture face(100, 100, 32);
  face.Fill(40, 40, 69, 69, kSkin);
  Picture big(200, 200, 24);  // one large region
  big.Fill(10, 10, 159, 159, kSkin);
  Picture none(64, 48, 24);
  none.Fill(0, 0, 20, 20, kSkin);
  for (const Picture* p : {&face, &big, &none}) {
    SCOPED_TRACE(std::to_string(p->width) + " x " + std::to_string(p->height));
    const int32_t bpp = p->bitCount / 8, stride = p->width * bpp;
    BMPFaceRect rect = kUntouched;
    PlatformFailRequest(0);
    const int32_t status =
        BMPFaceDetectPixels(p->bytes.data(), p->width, p->height, stride, bpp, &rect);
    const long total = PlatformRequestCount();
    ASSERT_GE(total, 2);  // at least the mask and the visited map
    for (long k = 1; k <= total; ++k) {
      SCOPED_TRACE("failing request " + std::to_string(k) + " of " + std::to_string(total));
      BMPFaceRect failed = kUntouched;
      int32_t detected = 0, walked = 0;
      const std::string printed = CaptureStdout([&] {
        PlatformFailRequest(k);
        detected = BMPFaceDetectPixels(p->bytes.data(), p->width, p->height, stride, bpp, &failed);
        PlatformFailRequest(k);
        walked = BMPFaceWalkRegions(p->bytes.data(), p->width, p->height, stride, bpp, nullptr,
                                    nullptr, &failed);
        PlatformFailRequest(0);
      });
      EXPECT_EQ(detected, BMPFACE_NO_MEMORY);
      EXPECT_EQ(walked, BMPFACE_NO_MEMORY);
      EXPECT_TRUE(failed == kUntouched);
      EXPECT_EQ(printed, "");
    }
    if (status != BMPFACE_OK) continue;
    std::vector<uint8_t> crop(size_t(rect.width) * size_t(rect.height) * size_t(bpp), 0xAB);
    PlatformFailRequest(1);  // the crop's only request
    EXPECT_EQ(BMPFaceExtractPixels(p->bytes.data(), p->width, p->height, stride, bpp, &rect,
                                   crop.data(), crop.size()),
              BMPFACE_NO_MEMORY);
    PlatformFailRequest(0);
    EXPECT_EQ(crop[0], 0xAB);
  }
}

}  // namespace
}  // namespace bmpface::test
