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
  return image.height >= 0 && image.rowStride >= 0 && (image.height == 0 || image.pixels != nullptr);
}

// A positive biHeight stores the bottom row first.
int FileIsBottomUp(const BMPImage& image) { return image.infoHeader.biHeight > 0 ? 1 : 0; }

}  // namespace

int LoadBMP(const char* path, BMPImage& image) {
  image.pixels = nullptr;
  PlatformFile* file = PlatformOpenRead(path);
  if (file == nullptr) return 0;
  uint8_t header[kHeaderBytes];
  uint64_t fileSize = 0;
  if (PlatformRead(header, 1, kHeaderBytes, file) != kHeaderBytes) {
    PlatformClose(file);
    return 0;
  }
  UnpackBMPHeaders(header, image);
  if (PlatformFileSize(file, fileSize) == 0 || CheckBMPHeader(image, fileSize) == 0) {
    PlatformClose(file);
    return 0;
  }
  uint8_t* pixels = ObtainPixels(image);
  if (pixels == nullptr) {
    PlatformClose(file);
    return 0;
  }
  // Every byte of the buffer is read from the file or the load fails: nothing undefined escapes,
  // even if the file shrank after its size was checked.
  const bool ok = PlatformSeek(file, image.fileHeader.bfOffBits) == 1 &&
                  PlatformReadRows(file, pixels, static_cast<size_t>(image.rowStride),
                                   static_cast<size_t>(image.height), FileIsBottomUp(image)) == 1;
  PlatformClose(file);
  if (!ok) {
    PlatformFree(pixels);
    return 0;
  }
  image.pixels = pixels;
  return 1;
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
