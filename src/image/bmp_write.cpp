// The BMP writer: the 54 header bytes as the picture holds them, then its rows bottom row first,
// into an open file, a new file by path, or a caller's block of memory, through one sequence.
#include <cstdint>
#include <cstring>

#include "image/bmp_header.h"
#include "image/bmp_image.h"
#include "platform/platform.h"

namespace bmpface {

namespace {

// Where a BMP's bytes go: an open file, or `capacity` bytes at `bytes`, written from `at` on.
struct Destination {
  PlatformFile* file;
  uint8_t* bytes;
  size_t capacity;
  size_t at;
};

// As PlatformWriteRows: the last row of `rows` first when `bottomUp` is 1. Returns 1 when every
// byte was written.
int DestinationRows(Destination& to, const uint8_t* rows, size_t rowBytes, size_t rowCount,
                    int bottomUp) {
  if (to.file != nullptr) return PlatformWriteRows(to.file, rows, rowBytes, rowCount, bottomUp);
  if (rowBytes != 0 && rowCount > (to.capacity - to.at) / rowBytes) return 0;
  for (size_t k = 0; k < rowCount; ++k, to.at += rowBytes) {
    std::memcpy(to.bytes + to.at, rows + (bottomUp == 1 ? rowCount - 1 - k : k) * rowBytes,
                rowBytes);
  }
  return 1;
}

// A picture that can be written: sizes that are not negative, and rows where there are any.
bool HoldsRows(const BMPImage& image) {
  return image.height >= 0 && image.rowStride >= 0 &&
         (image.height == 0 || image.pixels != nullptr);
}

int WriteTo(Destination& to, const BMPImage& image) {
  if (!HoldsRows(image)) return 0;
  uint8_t header[kHeaderBytes];
  PackBMPHeaders(image, header);
  if (to.file != nullptr && PlatformWrite(header, 1, kHeaderBytes, to.file) != kHeaderBytes) {
    return 0;
  }
  if (to.file == nullptr && DestinationRows(to, header, kHeaderBytes, 1, 0) != 1) return 0;
  // Files store rows bottom-up.
  return DestinationRows(to, image.pixels, static_cast<size_t>(image.rowStride),
                         static_cast<size_t>(image.height), 1);
}

}  // namespace

int WriteBMP(PlatformFile* file, const BMPImage& image) {
  if (file == nullptr) return 0;
  Destination to{file, nullptr, 0, 0};
  return WriteTo(to, image);
}

int SaveBMP(const char* path, const BMPImage& image) {
  if (!HoldsRows(image)) return 0;  // before the file is touched
  int created = 0;
  PlatformFile* file = PlatformOpenWrite(path, created);
  if (file == nullptr) return 0;
  return PlatformFinishWrite(file, path, created, WriteBMP(file, image));
}

size_t BMPFileSize(const BMPImage& image) {
  if (!HoldsRows(image)) return 0;
  const uint64_t rows =
      static_cast<uint64_t>(image.rowStride) * static_cast<uint64_t>(image.height);
  if (rows > SIZE_MAX - kHeaderBytes) return 0;
  return static_cast<size_t>(rows) + kHeaderBytes;
}

int WriteBMPToMemory(const BMPImage& image, uint8_t* bytes, size_t capacity) {
  const size_t size = BMPFileSize(image);
  if (bytes == nullptr || size == 0 || size > capacity) return 0;
  Destination to{nullptr, bytes, capacity, 0};
  return WriteTo(to, image);
}

}  // namespace bmpface
