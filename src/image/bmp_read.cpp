// The BMP reader: a file by path, an open file, or a file's bytes in memory, through one header
// decision and one slice loop, so that every way in reads and shows its rows alike.
#include <cstring>

#include "image/bmp_header.h"
#include "image/bmp_image.h"
#include "platform/platform.h"

namespace bmpface {

namespace {

// Where a BMP's bytes come from: an open file, or `size` bytes at `bytes`, read from `at` on.
struct Source {
  PlatformFile* file;
  const uint8_t* bytes;
  uint64_t size;
  uint64_t at;
};

int SourceSize(const Source& source, uint64_t& size) {
  if (source.file != nullptr) return PlatformFileSize(source.file, size);
  size = source.size;
  return 1;
}

int SourceSeek(Source& source, uint64_t offset) {
  if (source.file != nullptr) return PlatformSeek(source.file, offset);
  if (offset > source.size) return 0;
  source.at = offset;
  return 1;
}

// As PlatformReadRows: `rowCount` rows of `rowBytes` bytes, the first one read into the last row
// of `rows` when `bottomUp` is 1. Returns 1 when every byte was there.
int SourceRows(Source& source, uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp) {
  if (source.file != nullptr) {
    return PlatformReadRows(source.file, rows, rowBytes, rowCount, bottomUp);
  }
  if (rowBytes != 0 && rowCount > (source.size - source.at) / rowBytes) return 0;
  for (size_t k = 0; k < rowCount; ++k, source.at += rowBytes) {
    std::memcpy(rows + (bottomUp == 1 ? rowCount - 1 - k : k) * rowBytes, source.bytes + source.at,
                rowBytes);
  }
  return 1;
}

int SourceHeader(Source& source, uint8_t (&header)[kHeaderBytes]) {
  if (source.file != nullptr) {
    return PlatformRead(header, 1, kHeaderBytes, source.file) == kHeaderBytes ? 1 : 0;
  }
  return SourceRows(source, header, kHeaderBytes, 1, 0);
}

// The buffer for a picture whose header CheckBMPHeader accepted (its size fits 32 bits), or null.
uint8_t* ObtainPixels(const BMPImage& image) {
  return static_cast<uint8_t*>(
      PlatformMalloc(static_cast<size_t>(image.height) * static_cast<size_t>(image.rowStride)));
}

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
int ReadRows(Source& source, const BMPImage& image, const RowSink* sink) {
  constexpr size_t kSliceBytes = size_t{256} << 10;
  constexpr size_t kNarrowRowBytes = 64;
  const size_t rowBytes = static_cast<size_t>(image.rowStride);
  const size_t rowCount = static_cast<size_t>(image.height);
  // A positive biHeight stores the bottom row first.
  const int bottomUp = image.infoHeader.biHeight > 0 ? 1 : 0;
  const size_t perSlice = rowBytes < kSliceBytes ? kSliceBytes / rowBytes : 1;
  for (size_t done = 0; done < rowCount;) {
    const size_t n = rowCount - done < perSlice ? rowCount - done : perSlice;
    const size_t first = bottomUp == 1 ? rowCount - done - n : done;  // in memory, top-down
    uint8_t* slice = image.pixels + first * rowBytes;
    if (rowBytes < kNarrowRowBytes) {
      if (SourceRows(source, slice, n * rowBytes, 1, 0) != 1) return 0;
      for (size_t i = 0; bottomUp == 1 && i < n / 2; ++i) {
        SwapRows(slice + i * rowBytes, slice + (n - 1 - i) * rowBytes, rowBytes);
      }
    } else if (SourceRows(source, slice, rowBytes, n, bottomUp) != 1) {
      return 0;
    }
    if (sink != nullptr && sink->rows != nullptr) {
      sink->rows(sink->context, image, static_cast<int32_t>(first), static_cast<int32_t>(n));
    }
    done += n;
  }
  return 1;
}

// The whole read from `source`, positioned at the file's start.
int ReadFrom(Source& source, BMPImage& image, const RowSink* sink) {
  image.pixels = nullptr;
  uint8_t header[kHeaderBytes];
  uint64_t size = 0;
  if (SourceHeader(source, header) != 1) return 0;
  UnpackBMPHeaders(header, image);
  if (SourceSize(source, size) == 0 || CheckBMPHeader(image, size) == 0) return 0;
  image.pixels = ObtainPixels(image);
  if (image.pixels == nullptr) return 0;
  if (sink != nullptr && sink->start != nullptr) sink->start(sink->context, image);
  // Every byte of the buffer is read from the file or the load fails: nothing undefined escapes,
  // even if the file shrank after its size was checked.
  const bool ok =
      SourceSeek(source, image.fileHeader.bfOffBits) == 1 && ReadRows(source, image, sink) == 1;
  if (!ok) FreeBMP(image);
  return ok ? 1 : 0;
}

}  // namespace

int ReadBMP(PlatformFile* file, BMPImage& image, const RowSink* sink) {
  Source source{file, nullptr, 0, 0};
  return ReadFrom(source, image, sink);
}

int LoadBMP(const char* path, BMPImage& image, const RowSink* sink) {
  image.pixels = nullptr;
  PlatformFile* file = PlatformOpenRead(path);
  if (file == nullptr) return 0;
  const int read = ReadBMP(file, image, sink);
  PlatformClose(file);
  return read;
}

int LoadBMPFromMemory(const uint8_t* bytes, size_t size, BMPImage& image, const RowSink* sink) {
  image.pixels = nullptr;
  if (bytes == nullptr) return 0;
  Source source{nullptr, bytes, size, 0};
  return ReadFrom(source, image, sink);
}

void FreeBMP(BMPImage& image) {
  PlatformFree(image.pixels);
  image.pixels = nullptr;
}

}  // namespace bmpface
