#include "image/bmp_image.h"

#include <cstring>

#include "image/bmp_header.h"
#include "platform/platform.h"

namespace bmpface {

namespace {

// The buffer for a picture whose header CheckBMPHeader accepted (its size fits 32 bits), or null.
uint8_t* ObtainPixels(const BMPImage& image) {
  return static_cast<uint8_t*>(
      PlatformMalloc(static_cast<size_t>(image.height) * static_cast<size_t>(image.rowStride)));
}

// A picture that can be written: sizes that are not negative, and rows where there are any.
bool HoldsRows(const BMPImage& image) {
  return image.height >= 0 && image.rowStride >= 0 &&
         (image.height == 0 || image.pixels != nullptr);
}

// A positive biHeight stores the bottom row first.
int FileIsBottomUp(const BMPImage& image) { return image.infoHeader.biHeight > 0 ? 1 : 0; }

// Swaps two rows of `rowBytes` bytes, a multiple of 4, four bytes at a time.
void SwapRows(uint8_t* a, uint8_t* b, size_t rowBytes) {
  for (size_t i = 0; i < rowBytes; i += 4) {
    uint32_t x, y;
    std::memcpy(&x, a + i, 4);
    std::memcpy(&y, b + i, 4);
    std::memcpy(a + i, &y, 4);
    std::memcpy(b + i, &x, 4);
  }
}

// Reads the rows into image.pixels in slices of about 256 KB; a sink sees each slice while it is
// still in the cache. Rows of a few bytes would each cost an I/O vector and the work that goes
// with it (a picture one pixel wide has ten million of them): a slice of such rows is read in one
// piece and, when the file stores them bottom-up, put in order in memory.
int ReadRows(PlatformFile* file, const BMPImage& image, const RowSink* sink) {
  constexpr size_t kSliceBytes = size_t{256} << 10;
  constexpr size_t kNarrowRowBytes = 64;
  const size_t rowBytes = static_cast<size_t>(image.rowStride);
  const size_t rowCount = static_cast<size_t>(image.height);
  const int bottomUp = FileIsBottomUp(image);
  const size_t perSlice = rowBytes < kSliceBytes ? kSliceBytes / rowBytes : 1;
  for (size_t done = 0; done < rowCount;) {
    const size_t n = rowCount - done < perSlice ? rowCount - done : perSlice;
    const size_t first = bottomUp == 1 ? rowCount - done - n : done;  // in memory, top-down
    uint8_t* slice = image.pixels + first * rowBytes;
    if (rowBytes < kNarrowRowBytes) {
      if (PlatformReadRows(file, slice, n * rowBytes, 1, 0) != 1) return 0;
      for (size_t i = 0; bottomUp == 1 && i < n / 2; ++i) {
        SwapRows(slice + i * rowBytes, slice + (n - 1 - i) * rowBytes, rowBytes);
      }
    } else if (PlatformReadRows(file, slice, rowBytes, n, bottomUp) != 1) {
      return 0;
    }
    if (sink != nullptr && sink->rows != nullptr) {
      sink->rows(sink->context, image, static_cast<int32_t>(first), static_cast<int32_t>(n));
    }
    done += n;
  }
  return 1;
}

}  // namespace

int ReadBMP(PlatformFile* file, BMPImage& image, const RowSink* sink) {
  image.pixels = nullptr;
  uint8_t header[kHeaderBytes];
  uint64_t fileSize = 0;
  if (PlatformRead(header, 1, kHeaderBytes, file) != kHeaderBytes) return 0;
  UnpackBMPHeaders(header, image);
  if (PlatformFileSize(file, fileSize) == 0 || CheckBMPHeader(image, fileSize) == 0) return 0;
  image.pixels = ObtainPixels(image);
  if (image.pixels == nullptr) return 0;
  if (sink != nullptr && sink->start != nullptr) sink->start(sink->context, image);
  // Every byte of the buffer is read from the file or the load fails: nothing undefined escapes,
  // even if the file shrank after its size was checked.
  const bool ok =
      PlatformSeek(file, image.fileHeader.bfOffBits) == 1 && ReadRows(file, image, sink) == 1;
  if (!ok) FreeBMP(image);
  return ok ? 1 : 0;
}

int LoadBMP(const char* path, BMPImage& image, const RowSink* sink) {
  image.pixels = nullptr;
  PlatformFile* file = PlatformOpenRead(path);
  if (file == nullptr) return 0;
  const int read = ReadBMP(file, image, sink);
  PlatformClose(file);
  return read;
}

int LoadBMPFromMemory(const uint8_t* bytes, size_t size, BMPImage& image) {
  image.pixels = nullptr;
  if (bytes == nullptr || size < static_cast<size_t>(kHeaderBytes)) return 0;
  uint8_t header[kHeaderBytes];
  std::memcpy(header, bytes, kHeaderBytes);
  UnpackBMPHeaders(header, image);
  if (CheckBMPHeader(image, size) == 0) return 0;  // also: the rows lie inside `bytes`
  uint8_t* pixels = ObtainPixels(image);
  if (pixels == nullptr) return 0;
  const size_t rowBytes = static_cast<size_t>(image.rowStride);
  const size_t rowCount = static_cast<size_t>(image.height);
  const uint8_t* row = bytes + image.fileHeader.bfOffBits;
  const bool bottomUp = FileIsBottomUp(image) == 1;
  for (size_t k = 0; k < rowCount; ++k, row += rowBytes) {
    std::memcpy(pixels + (bottomUp ? rowCount - 1 - k : k) * rowBytes, row, rowBytes);
  }
  image.pixels = pixels;
  return 1;
}

int WriteBMP(PlatformFile* file, const BMPImage& image) {
  if (!HoldsRows(image)) return 0;
  uint8_t header[kHeaderBytes];
  PackBMPHeaders(image, header);
  // Files store rows bottom-up.
  return PlatformWrite(header, 1, kHeaderBytes, file) == kHeaderBytes &&
                 PlatformWriteRows(file, image.pixels, static_cast<size_t>(image.rowStride),
                                   static_cast<size_t>(image.height), 1) == 1
             ? 1
             : 0;
}

int SaveBMP(const char* path, const BMPImage& image) {
  if (!HoldsRows(image)) return 0;  // before the file is touched
  int created = 0;
  PlatformFile* file = PlatformOpenWrite(path, created);
  if (file == nullptr) return 0;
  return PlatformFinishWrite(file, path, created, WriteBMP(file, image));
}

void FreeBMP(BMPImage& image) {
  PlatformFree(image.pixels);
  image.pixels = nullptr;
}

}  // namespace bmpface
