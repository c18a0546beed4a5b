#include "photo/bmp_other.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "image/bmp_header.h"
#include "photo/limits.h"
#include "platform/platform.h"

namespace bmpface::photo {
namespace {

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kAlphaBitFields = 6;

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
  int32_t width = 0, height = 0;  // height > 0: bottom row first
  int bitCount = 0;
  uint32_t compression = kRGB;
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

bool ReadLayout(const uint8_t* bytes, size_t size, Layout& l, std::string& error) {
  if (size < 18 || bytes[0] != 'B' || bytes[1] != 'M') return Fail(error, "not a BMP file");
  const uint32_t offBits = LE32(bytes + 10);
  const uint32_t infoSize = LE32(bytes + 14);
  if (infoSize < 12 || infoSize > size - 14) return Fail(error, "BMP header beyond the file");
  const uint8_t* info = bytes + 14;
  uint32_t colours = 0;
  size_t entryBytes = 4;
  if (infoSize == 12) {  // OS/2 1.x: 16-bit sizes, 3-byte palette entries
    l.width = LE16(info + 4);
    l.height = LE16(info + 6);
    if (!OnePlane(LE16(info + 8), error)) return false;
    l.bitCount = LE16(info + 10);
    entryBytes = 3;
  } else {
    if (infoSize < 16) return Fail(error, "BMP header too short");
    l.width = static_cast<int32_t>(LE32(info + 4));
    l.height = static_cast<int32_t>(LE32(info + 8));
    if (!OnePlane(LE16(info + 12), error)) return false;
    l.bitCount = LE16(info + 14);
    if (infoSize >= 20) l.compression = LE32(info + 16);
    if (infoSize >= 36) colours = LE32(info + 32);
  }
  if (l.width < 1 || l.height == 0 || l.height == INT32_MIN) {
    return Fail(error, "BMP with no pixels or a negative width");
  }
  const bool palette = l.bitCount == 1 || l.bitCount == 2 || l.bitCount == 4 || l.bitCount == 8;
  const bool ok =
      (palette && l.compression == kRGB) || (l.bitCount == 8 && l.compression == kRLE8) ||
      (l.bitCount == 4 && l.compression == kRLE4) ||
      (l.bitCount == 16 &&
       (l.compression == kRGB || l.compression == kBitFields || l.compression == kAlphaBitFields));
  if (!ok) return Fail(error, "BMP of a depth or compression bmpface does not read");
  if ((l.compression == kRLE8 || l.compression == kRLE4) && l.height < 0) {
    return Fail(error, "run-length BMP stored top row first");
  }

  size_t after = 14 + size_t{infoSize};  // where the masks (if any) and then the palette start
  if (l.bitCount == 16) {
    uint32_t masks[4] = {0x7C00, 0x03E0, 0x001F, 0};
    if (l.compression != kRGB) {
      const size_t count = l.compression == kAlphaBitFields ? 4 : 3;
      const uint8_t* at = info + 40;
      if (infoSize < 40 + 4 * count) {  // the masks follow the header
        if (after + 4 * count > size) return Fail(error, "BMP bit masks beyond the file");
        at = bytes + after;
        after += 4 * count;
      }
      for (size_t i = 0; i < count; ++i) masks[i] = LE32(at + 4 * i);
      if (count == 3 && infoSize >= 56) masks[3] = LE32(info + 52);
    }
    if (!l.red.Set(masks[0]) || !l.green.Set(masks[1]) || !l.blue.Set(masks[2]) ||
        !l.alpha.Set(masks[3]) || (masks[0] | masks[1] | masks[2]) == 0 ||
        ((masks[0] | masks[1] | masks[2] | masks[3]) >> 16) != 0) {
      return Fail(error, "BMP bit masks that are not contiguous 16-bit fields");
    }
  } else {
    const uint32_t most = 1u << l.bitCount;
    if (colours == 0) colours = most;
    // Entries beyond those the indices can reach are skipped, but they must lie in the file.
    if (colours > (size - after) / entryBytes) return Fail(error, "BMP palette beyond the file");
    l.palette.resize(most, BGRA{0, 0, 0, 255});
    for (uint32_t i = 0; i < colours && i < most; ++i) {
      const uint8_t* e = bytes + after + i * entryBytes;
      l.palette[i] = {e[0], e[1], e[2], 255};
    }
  }
  if (offBits >= size) return Fail(error, "BMP pixel data beyond the file");
  l.dataOffset = offBits;
  return true;
}

// Expands the run-length data into one palette index per pixel, rows top-down. Unset pixels keep
// index 0.
bool ExpandRLE(const uint8_t* data, size_t size, const Layout& l, std::vector<uint8_t>& indices,
               std::string& error) {
  const size_t width = static_cast<size_t>(l.width), height = static_cast<size_t>(l.height);
  const bool four = l.compression == kRLE4;
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
  if (head == nullptr || size < 26 || head[0] != 'B' || head[1] != 'M') return false;
  if (LE32(head + 14) == 12) {  // OS/2 1.x: 16-bit sizes
    width = LE16(head + 18);
    height = LE16(head + 20);
    return true;
  }
  const int32_t w = static_cast<int32_t>(LE32(head + 18));
  const int32_t h = static_cast<int32_t>(LE32(head + 22));
  width = w < 0 ? 0 : static_cast<uint64_t>(w);
  height = h < 0 ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(h))
                 : static_cast<uint64_t>(h);
  return true;
}

uint64_t OtherBMPBytesWorthReading(const uint8_t* head, size_t size) {
  uint64_t width = 0, height = 0;
  if (!DeclaredBMPSize(head, size, width, height) || size < 30) return UINT64_MAX;
  const uint32_t infoSize = LE32(head + 14);
  const uint32_t bits = infoSize == 12 ? LE16(head + 24) : LE16(head + 28);
  const uint32_t compression = infoSize >= 20 && size >= 34 ? LE32(head + 30) : kRGB;
  uint64_t data = 0;
  if (compression == kRLE8 || compression == kRLE4) {
    // Two bytes a pixel (runs of one), two a row (their ends) and a margin: more than a worst
    // encoder needs, and a bound on the work of hostile runs that lead nowhere.
    data = SaturatingSum(
        SaturatingProduct(4, SaturatingSum(SaturatingProduct(width, height), height)), 64);
  } else {
    const uint64_t stride = SaturatingProduct((SaturatingProduct(bits, width) + 31) / 32, 4);
    data = SaturatingProduct(stride, height);
  }
  return SaturatingSum(LE32(head + 10), data);
}

void DescribePackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel) {
  const int32_t bits = bytesPerPixel * 8;
  const uint64_t fileRows = static_cast<uint64_t>(BMPRowStride(bits, width)) * height;
  image.width = width;
  image.height = height;
  image.bytesPerPixel = bytesPerPixel;
  image.rowStride = width * bytesPerPixel;
  image.fileHeader = {
      kBMPMagic,
      static_cast<uint32_t>(fileRows + kHeaderBytes <= UINT32_MAX ? fileRows + kHeaderBytes
                                                                  : UINT32_MAX),
      0, 0, kHeaderBytes};
  image.infoHeader = {kInfoHeaderBytes,
                      width,
                      height,
                      1,
                      static_cast<uint16_t>(bits),
                      0,
                      static_cast<uint32_t>(fileRows <= UINT32_MAX ? fileRows : UINT32_MAX),
                      2835,
                      2835,
                      0,
                      0};
}

int DecodeOtherBMP(const uint8_t* bytes, size_t size, uint64_t maxPixels, BMPImage& image,
                   bool& alpha, std::string& error) {
  image.pixels = nullptr;
  alpha = false;
  Layout l;
  if (bytes == nullptr || !ReadLayout(bytes, size, l, error)) return 0;
  const bool topDown = l.height < 0;
  const int32_t height = topDown ? -l.height : l.height;
  const int32_t bpp = l.alpha.mask != 0 ? 4 : 3;
  const uint64_t pixels = static_cast<uint64_t>(l.width) * static_cast<uint64_t>(height);
  if (!WithinPixelLimit(static_cast<uint64_t>(l.width), static_cast<uint64_t>(height), maxPixels)) {
    error =
        PixelLimitRefusal(static_cast<uint64_t>(l.width), static_cast<uint64_t>(height), maxPixels);
    return 0;
  }
  if (static_cast<uint64_t>(l.width) * bpp > INT32_MAX ||
      pixels * static_cast<uint64_t>(bpp) > INT32_MAX) {
    error = "BMP too large";
    return 0;
  }
  const size_t width = static_cast<size_t>(l.width);
  const uint8_t* data = bytes + l.dataOffset;
  const size_t dataSize = size - l.dataOffset;
  std::vector<uint8_t> indices;  // for run-length pictures only
  const size_t stride = ((static_cast<size_t>(l.bitCount) * width + 31) / 32) * 4;
  if (l.compression == kRLE8 || l.compression == kRLE4) {
    try {
      indices.assign(width * static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
      error = "out of memory";
      return 0;
    }
    if (!ExpandRLE(data, dataSize, l, indices, error)) return 0;
  } else if (stride > dataSize / static_cast<size_t>(height)) {
    error = "BMP rows beyond the file";
    return 0;
  }

  uint8_t* out = static_cast<uint8_t*>(PlatformMalloc(static_cast<size_t>(pixels) * bpp));
  if (out == nullptr) {
    error = "out of memory";
    return 0;
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* to = out + static_cast<size_t>(y) * width * bpp;
    const size_t fileRow = topDown ? static_cast<size_t>(y) : static_cast<size_t>(height - 1 - y);
    const uint8_t* from = indices.empty() ? data + fileRow * stride : nullptr;
    for (size_t x = 0; x < width; ++x, to += bpp) {
      if (l.bitCount == 16) {
        const uint32_t p = LE16(from + 2 * x);
        to[0] = l.blue.Of(p);
        to[1] = l.green.Of(p);
        to[2] = l.red.Of(p);
        if (bpp == 4) to[3] = l.alpha.Of(p);
        continue;
      }
      uint8_t index;
      if (!indices.empty()) {
        index = indices[static_cast<size_t>(y) * width + x];
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
  // A mask that leaves every pixel fully transparent is not meant as alpha.
  bool anyAlpha = false;
  for (size_t i = 3; bpp == 4 && !anyAlpha && i < static_cast<size_t>(pixels) * 4; i += 4) {
    anyAlpha = out[i] != 0;
  }
  DescribePackedPicture(image, l.width, height, bpp);
  image.pixels = out;
  alpha = anyAlpha;
  return 1;
}

}  // namespace bmpface::photo
