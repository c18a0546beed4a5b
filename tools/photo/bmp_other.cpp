#include "photo/bmp_other.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "image/bmp_bytes.h"
#include "image/bmp_header.h"
#include "photo/limits.h"
#include "platform/platform.h"

namespace bmpface::photo {
namespace {

struct BGRA {
  uint8_t b, g, r, a;
};

// One channel of a 16-bit pixel: its mask's bits, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  bool Set(uint32_t m) {
    mask = m;
    if (m == 0) return true;
    shift = 0;
    while (((m >> shift) & 1) == 0) ++shift;
    max = m >> shift;
    return (max & (max + 1)) == 0;  // the bits are contiguous
  }
  uint8_t Of(uint32_t pixel) const {
    if (mask == 0) return 0;
    return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
  }
};

// What the headers say, checked against the file's size.
struct Layout {
  uint32_t infoSize = 0;
  int32_t width = 0, height = 0;  // height > 0: bottom row first
  int bitCount = 0;
  uint32_t compression = kCompressionNone;
  uint32_t colours = 0;  // palette entries declared; 0: as many as the depth can index
  size_t entryBytes = 4;
  std::vector<BGRA> palette;
  Channel red, green, blue, alpha;
  size_t dataOffset = 0;
};

bool Fail(std::string& error, const char* why) {
  error = why;
  return false;
}

// A BMP has one colour plane; the message says how many this one declares.
bool OnePlane(uint16_t planes, std::string& error) {
  if (planes == 1) return true;
  error = "BMP with " + std::to_string(planes) + " colour planes (a BMP has 1)";
  return false;
}

// Whether an info header of `infoSize` bytes reaches the `bytes` bytes of the field at `at`.
bool Reaches(uint32_t infoSize, int at, int bytes) {
  return kFileHeaderBytes + uint64_t{infoSize} >= static_cast<uint64_t>(at + bytes);
}

bool IsRunLength(uint32_t compression) {
  return compression == kCompressionRLE8 || compression == kCompressionRLE4;
}

// The info header's sizes, depth and compression, and whether bmpface reads that kind.
bool ReadInfo(const uint8_t* bytes, size_t size, Layout& l, std::string& error) {
  if (size < kAtInfoSize + 4 || ReadLE16(bytes + kAtType) != kBMPMagic)
    return Fail(error, "not a BMP file");
  l.infoSize = ReadLE32(bytes + kAtInfoSize);
  if (l.infoSize < kOS2InfoHeaderBytes || l.infoSize > size - kFileHeaderBytes) {
    return Fail(error, "BMP header beyond the file");
  }
  if (l.infoSize == kOS2InfoHeaderBytes) {  // 16-bit sizes, 3-byte palette entries
    l.width = ReadLE16(bytes + kAtCoreWidth);
    l.height = ReadLE16(bytes + kAtCoreHeight);
    if (!OnePlane(ReadLE16(bytes + kAtCorePlanes), error)) return false;
    l.bitCount = ReadLE16(bytes + kAtCoreBitCount);
    l.entryBytes = 3;
  } else {
    if (!Reaches(l.infoSize, kAtBitCount, 2)) return Fail(error, "BMP header too short");
    l.width = ToSigned32(ReadLE32(bytes + kAtWidth));
    l.height = ToSigned32(ReadLE32(bytes + kAtHeight));
    if (!OnePlane(ReadLE16(bytes + kAtPlanes), error)) return false;
    l.bitCount = ReadLE16(bytes + kAtBitCount);
    if (Reaches(l.infoSize, kAtCompression, 4)) l.compression = ReadLE32(bytes + kAtCompression);
    if (Reaches(l.infoSize, kAtColoursUsed, 4)) l.colours = ReadLE32(bytes + kAtColoursUsed);
  }
  if (l.width < 1 || l.height == 0 || l.height == INT32_MIN) {
    return Fail(error, "BMP with no pixels or a negative width");
  }
  const bool palette = l.bitCount == 1 || l.bitCount == 2 || l.bitCount == 4 || l.bitCount == 8;
  const uint32_t c = l.compression;
  const bool ok =
      (palette && c == kCompressionNone) || (l.bitCount == 8 && c == kCompressionRLE8) ||
      (l.bitCount == 4 && c == kCompressionRLE4) ||
      (l.bitCount == 16 &&
       (c == kCompressionNone || c == kCompressionBitFields || c == kCompressionAlphaBitFields));
  if (!ok) return Fail(error, "BMP of a depth or compression bmpface does not read");
  if (IsRunLength(c) && l.height < 0) return Fail(error, "run-length BMP stored top row first");
  return true;
}

// The channels of a 16-bit picture: 5-5-5, or the masks in the header or right after it (`after`
// moves past them).
bool ReadMasks(const uint8_t* bytes, size_t size, size_t& after, Layout& l, std::string& error) {
  uint32_t masks[4] = {0x7C00, 0x03E0, 0x001F, 0};
  if (l.compression != kCompressionNone) {
    const size_t count = l.compression == kCompressionAlphaBitFields ? 4 : 3;
    const uint8_t* at = bytes + kHeaderBytes;  // in a header that has room for them
    if (!Reaches(l.infoSize, kHeaderBytes, static_cast<int>(4 * count))) {  // after the header
      if (after + 4 * count > size) return Fail(error, "BMP bit masks beyond the file");
      at = bytes + after;
      after += 4 * count;
    }
    for (size_t i = 0; i < count; ++i) masks[i] = ReadLE32(at + 4 * i);
    if (count == 3 && Reaches(l.infoSize, kHeaderBytes + 12, 4)) {
      masks[3] = ReadLE32(bytes + kHeaderBytes + 12);  // a V3 header's alpha mask
    }
  }
  if (!l.red.Set(masks[0]) || !l.green.Set(masks[1]) || !l.blue.Set(masks[2]) ||
      !l.alpha.Set(masks[3]) || (masks[0] | masks[1] | masks[2]) == 0 ||
      ((masks[0] | masks[1] | masks[2] | masks[3]) >> 16) != 0) {
    return Fail(error, "BMP bit masks that are not contiguous 16-bit fields");
  }
  return true;
}

bool ReadPalette(const uint8_t* bytes, size_t size, size_t after, Layout& l, std::string& error) {
  const uint32_t most = 1u << l.bitCount;
  const uint32_t colours = l.colours == 0 ? most : l.colours;
  // Entries beyond those the indices can reach are skipped, but they must lie in the file.
  if (colours > (size - after) / l.entryBytes) return Fail(error, "BMP palette beyond the file");
  l.palette.resize(most, BGRA{0, 0, 0, 255});
  for (uint32_t i = 0; i < colours && i < most; ++i) {
    const uint8_t* e = bytes + after + i * l.entryBytes;
    l.palette[i] = {e[0], e[1], e[2], 255};
  }
  return true;
}

bool ReadLayout(const uint8_t* bytes, size_t size, Layout& l, std::string& error) {
  if (!ReadInfo(bytes, size, l, error)) return false;
  // Where the masks (if any) and then the palette start.
  size_t after = kFileHeaderBytes + size_t{l.infoSize};
  if (l.bitCount == 16 ? !ReadMasks(bytes, size, after, l, error)
                       : !ReadPalette(bytes, size, after, l, error)) {
    return false;
  }
  const uint32_t offBits = ReadLE32(bytes + kAtPixelOffset);
  if (offBits >= size) return Fail(error, "BMP pixel data beyond the file");
  l.dataOffset = offBits;
  return true;
}

// Expands the run-length data into one palette index per pixel, rows top-down. Unset pixels keep
// index 0.
bool ExpandRLE(const uint8_t* data, size_t size, const Layout& l, std::vector<uint8_t>& indices,
               std::string& error) {
  const size_t width = static_cast<size_t>(l.width), height = static_cast<size_t>(l.height);
  const bool four = l.compression == kCompressionRLE4;
  size_t x = 0, row = 0, i = 0;  // row counts from the bottom
  auto put = [&](uint8_t index) {
    if (x < width && row < height) indices[(height - 1 - row) * width + x] = index;
    ++x;
  };
  while (i + 2 <= size) {
    const uint8_t count = data[i], value = data[i + 1];
    i += 2;
    if (count > 0) {  // a run: one index, or two alternating for RLE4
      for (unsigned k = 0; k < count; ++k) {
        put(four ? static_cast<uint8_t>(k % 2 == 0 ? value >> 4 : value & 15) : value);
      }
    } else if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of picture
      return true;
    } else if (value == 2) {  // move right and up
      if (i + 2 > size) break;
      x += data[i];
      row += data[i + 1];
      i += 2;
    } else {  // `value` indices as they are, padded to a whole number of 16-bit words
      const size_t bytesUsed = four ? (value + 1u) / 2 : value;
      const size_t padded = bytesUsed + (bytesUsed & 1);
      if (i + padded > size) break;
      for (unsigned k = 0; k < value; ++k) {
        put(four ? static_cast<uint8_t>(k % 2 == 0 ? data[i + k / 2] >> 4 : data[i + k / 2] & 15)
                 : data[i + k]);
      }
      i += padded;
    }
    if (row >= height && x == 0) break;  // past the last row: nothing more can be set
  }
  // Tolerated: data that ends once the last row is complete, without the end mark.
  if (row >= height || (row + 1 == height && x >= width)) return true;
  return Fail(error, "run-length BMP data ends before the picture does");
}

// a * b, or UINT64_MAX where that overflows.
uint64_t SaturatingProduct(uint64_t a, uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}

uint64_t SaturatingSum(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace

bool DeclaredBMPSize(const uint8_t* head, size_t size, uint64_t& width, uint64_t& height) {
  if (head == nullptr || size < kAtHeight + 4 || ReadLE16(head + kAtType) != kBMPMagic) {
    return false;
  }
  if (ReadLE32(head + kAtInfoSize) == kOS2InfoHeaderBytes) {  // 16-bit sizes
    width = ReadLE16(head + kAtCoreWidth);
    height = ReadLE16(head + kAtCoreHeight);
    return true;
  }
  const int32_t w = ToSigned32(ReadLE32(head + kAtWidth));
  const int32_t h = ToSigned32(ReadLE32(head + kAtHeight));
  width = w < 0 ? 0 : static_cast<uint64_t>(w);
  height = h < 0 ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(h))
                 : static_cast<uint64_t>(h);
  return true;
}

uint64_t OtherBMPBytesWorthReading(const uint8_t* head, size_t size) {
  uint64_t width = 0, height = 0;
  if (!DeclaredBMPSize(head, size, width, height) || size < kAtBitCount + 2) return UINT64_MAX;
  const uint32_t infoSize = ReadLE32(head + kAtInfoSize);
  const uint32_t bits =
      ReadLE16(head + (infoSize == kOS2InfoHeaderBytes ? kAtCoreBitCount : kAtBitCount));
  const uint32_t compression = Reaches(infoSize, kAtCompression, 4) && size >= kAtCompression + 4
                                   ? ReadLE32(head + kAtCompression)
                                   : kCompressionNone;
  uint64_t data = 0;
  if (IsRunLength(compression)) {
    // Two bytes a pixel (runs of one), two a row (their ends) and a margin: more than a worst
    // encoder needs, and a bound on the work of hostile runs that lead nowhere.
    data = SaturatingSum(
        SaturatingProduct(4, SaturatingSum(SaturatingProduct(width, height), height)), 64);
  } else {
    data = SaturatingProduct(BMPRowBytes(bits, width), height);
  }
  return SaturatingSum(ReadLE32(head + kAtPixelOffset), data);
}

void DescribePackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel) {
  DescribeBMP(image, width, height, bytesPerPixel);
  image.rowStride = width * bytesPerPixel;
}

namespace {

// One row of pixels of the file (`from`, or the run-length `indices` of the row) into `to`: BGR,
// or BGRA for `bpp` 4.
void DecodeRow(const Layout& l, const uint8_t* from, const uint8_t* indices, size_t width,
               int32_t bpp, uint8_t* to) {
  for (size_t x = 0; x < width; ++x, to += bpp) {
    if (l.bitCount == 16) {
      const uint32_t p = ReadLE16(from + 2 * x);
      to[0] = l.blue.Of(p);
      to[1] = l.green.Of(p);
      to[2] = l.red.Of(p);
      if (bpp == 4) to[3] = l.alpha.Of(p);
      continue;
    }
    uint8_t index;
    if (indices != nullptr) {
      index = indices[x];
    } else {
      const size_t bit = x * static_cast<size_t>(l.bitCount);
      index = static_cast<uint8_t>((from[bit / 8] >> (8 - l.bitCount - bit % 8)) &
                                   ((1u << l.bitCount) - 1));
    }
    const BGRA& c = l.palette[index];
    to[0] = c.b;
    to[1] = c.g;
    to[2] = c.r;
  }
}

// Refuses, with `error`, a picture over the pixel limit or beyond the library's 32-bit sizes.
bool SizeAllowed(const Layout& l, int32_t height, int32_t bpp, uint64_t maxPixels,
                 std::string& error) {
  const uint64_t width = static_cast<uint64_t>(l.width), rows = static_cast<uint64_t>(height);
  if (!WithinPixelLimit(width, rows, maxPixels)) {
    error = PixelLimitRefusal(width, rows, maxPixels);
    return false;
  }
  if (width * static_cast<uint64_t>(bpp) > INT32_MAX ||
      width * rows * static_cast<uint64_t>(bpp) > INT32_MAX) {
    return Fail(error, "BMP too large");
  }
  return true;
}

}  // namespace

int DecodeOtherBMP(const uint8_t* bytes, size_t size, uint64_t maxPixels, BMPImage& image,
                   bool& alpha, std::string& error) {
  image.pixels = nullptr;
  alpha = false;
  Layout l;
  if (bytes == nullptr || !ReadLayout(bytes, size, l, error)) return 0;
  const bool topDown = l.height < 0;
  const int32_t height = topDown ? -l.height : l.height;
  const int32_t bpp = l.alpha.mask != 0 ? 4 : 3;
  if (!SizeAllowed(l, height, bpp, maxPixels, error)) return 0;
  const size_t width = static_cast<size_t>(l.width);
  const size_t pixels = width * static_cast<size_t>(height);
  const uint8_t* data = bytes + l.dataOffset;
  const size_t dataSize = size - l.dataOffset;
  std::vector<uint8_t> indices;  // for run-length pictures only
  const uint64_t stride = BMPRowBytes(static_cast<uint64_t>(l.bitCount), width);
  if (IsRunLength(l.compression)) {
    try {
      indices.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
      error = "out of memory";
      return 0;
    }
    if (!ExpandRLE(data, dataSize, l, indices, error)) return 0;
  } else if (stride > dataSize / static_cast<size_t>(height)) {
    error = "BMP rows beyond the file";
    return 0;
  }
  uint8_t* out = static_cast<uint8_t*>(PlatformMalloc(pixels * static_cast<size_t>(bpp)));
  if (out == nullptr) {
    error = "out of memory";
    return 0;
  }
  for (int32_t y = 0; y < height; ++y) {
    const size_t fileRow = topDown ? static_cast<size_t>(y) : static_cast<size_t>(height - 1 - y);
    DecodeRow(l, indices.empty() ? data + fileRow * static_cast<size_t>(stride) : nullptr,
              indices.empty() ? nullptr : indices.data() + static_cast<size_t>(y) * width, width,
              bpp, out + static_cast<size_t>(y) * width * static_cast<size_t>(bpp));
  }
  // A mask that leaves every pixel fully transparent is not meant as alpha.
  bool anyAlpha = false;
  for (size_t i = 3; bpp == 4 && !anyAlpha && i < pixels * 4; i += 4) anyAlpha = out[i] != 0;
  DescribePackedPicture(image, l.width, height, bpp);
  image.pixels = out;
  alpha = anyAlpha;
  return 1;
}

}  // namespace bmpface::photo
