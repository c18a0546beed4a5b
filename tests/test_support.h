// Helpers shared by the tests: synthetic pictures, BMP files built in memory, temporary files.
#ifndef BMPFACE_TESTS_TEST_SUPPORT_H_
#define BMPFACE_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "detect/grid.h"
#include "image/bmp_image.h"

namespace bmpface::test {

struct BGR {
  uint8_t b, g, r;
};
constexpr BGR kSkin{60, 90, 200};    // skin by the rule
constexpr BGR kBackground{0, 0, 0};  // never skin

// A picture held top-down with packed rows (rowStride without fill), the way tests describe it.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 24;
  std::vector<uint8_t> bytes;  // width * height * bitCount / 8

  Picture(int32_t w, int32_t h, int32_t bits = 24, BGR fill = kBackground);
  uint8_t* At(int32_t x, int32_t y);
  const uint8_t* At(int32_t x, int32_t y) const;
  void Set(int32_t x, int32_t y, BGR c);
  // Fills the inclusive rectangle (x0, y0)-(x1, y1).
  void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, BGR c);
};

struct EncodeOptions {
  bool topDown = false;          // negative biHeight, top row first
  uint32_t gap = 0;              // bytes between the headers and the pixels
  uint32_t infoHeaderSize = 40;  // biSize; bytes beyond 40 are written as zeros
  uint32_t compression = 0;
};

// The BMP file of `picture`: 54-byte header (plus any larger info header and gap), then rows with
// their fill bytes (fill bytes 0xEE so that a test notices them).
std::vector<uint8_t> EncodeBMP(const Picture& picture, const EncodeOptions& options = {});

// Header field offsets in the file and a way to patch them.
enum : size_t {
  kOffBfSize = 2,
  kOffBfOffBits = 10,
  kOffBiSize = 14,
  kOffBiWidth = 18,
  kOffBiHeight = 22,
  kOffBiBitCount = 28,
  kOffBiCompression = 30,
  kOffBiSizeImage = 34,
};
void PutLE32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
void PutLE16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
uint32_t GetLE32(const std::vector<uint8_t>& bytes, size_t offset);

// A fresh directory under the system's temporary folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A loaded copy of `picture` (through its BMP file in memory). Release with FreeBMP.
BMPImage LoadPicture(const Picture& picture);

// Sets flag (x, y) of a grid.
void SetFlag(FlagGrid& grid, int32_t x, int32_t y);
// A grid built from a text drawing: '#' is a set flag, anything else clear; all lines equally long.
// Release with FreeFlagGrid.
SkinMask MaskFromArt(const std::vector<std::string>& art);
// A width x height grid with the inclusive rectangles set.
struct Box {
  int32_t x0, y0, x1, y1;
};
SkinMask MaskWithBoxes(int32_t width, int32_t height, const std::vector<Box>& boxes);
// A comb: a bar along row y0 from x0 to x1, and one-pixel teeth at x0, x0 + 2, ... from row y0 + 1
// down to y1. One region; with more than 512 teeth, the runs that wait at once in its growth
// outgrow the grower's own room and then its first block.
std::vector<Box> CombBoxes(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// What `action` writes to standard output (file descriptor 1), captured through a temporary file.
std::string CaptureStdout(const std::function<void()>& action);

// Where the shared test data (bmpsuite, samples) lies; empty when it is not there.
std::string SharedDir();
// The repository root.
std::string SourceDir();

}  // namespace bmpface::test

#endif  // BMPFACE_TESTS_TEST_SUPPORT_H_
