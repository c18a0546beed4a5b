// Every file of the public BMP suite loads or is refused as its manifest lists.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "image/bmp_image.h"
#include "platform/platform.h"
#include "test_support.h"

namespace bmpface::test {
namespace {

TEST(BMPSuite, EachFileLoadsOrIsRefusedAsListed) {
  const std::string dir = SharedDir();
  if (dir.empty()) {
    GTEST_SKIP() << "needs the BMP suite: ../shared/bmpsuite/MANIFEST.tsv beside the clone, or "
                    "BMPFACE_SHARED_DIR naming the folder that holds bmpsuite/";
  }
  std::ifstream manifest(dir + "/bmpsuite/MANIFEST.tsv");
  std::string line, name, status;
  ASSERT_TRUE(std::getline(manifest, line)) << "no manifest";  // column names
  int files = 0;
  while (std::getline(manifest, line)) {
    int64_t bits, compression, infoSize, width, height, offBits, size;
    std::istringstream(line) >> name >> bits >> compression >> infoSize >> width >> height >>
        offBits >> size >> status;
    const std::string path = dir + "/bmpsuite/" + name;
    ASSERT_TRUE(FileExists(path)) << path;
    ++files;
    BMPImage image{};
    PlatformFailRequest(0);
    const int loaded = LoadBMP(path.c_str(), image);
    EXPECT_EQ(loaded, status == "loads" ? 1 : 0) << path;
    EXPECT_EQ(PlatformRequestCount(), loaded) << path;  // refused before any buffer
    if (loaded == 0) continue;
    EXPECT_EQ(image.width, width) << path;
    EXPECT_EQ(image.height, height < 0 ? -height : height) << path;
    // Memory row y holds the file's row at bfOffBits in the order the height declares.
    const std::vector<uint8_t> file = ReadFile(path);
    const size_t stride = size_t(image.rowStride);
    for (size_t y = 0; y < size_t(image.height); ++y) {
      const uint8_t* want =
          file.data() + offBits + (height > 0 ? image.height - 1 - y : y) * stride;
      ASSERT_TRUE(std::equal(want, want + stride, image.pixels + y * stride))
          << path << " row " << y;
    }
    FreeBMP(image);
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace bmpface::test
