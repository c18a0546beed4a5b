#include "image/crop.h"

#include <algorithm>
#include <cstring>

#include "image/bmp_header.h"
#include "platform/platform.h"

namespace bmpface {

int ExtractFaceRegion(const BMPImage& source, const FaceRect& rect, BMPImage& output) {
  output.pixels = nullptr;
  output.fileHeader = source.fileHeader;
  output.infoHeader = source.infoHeader;
  output.bytesPerPixel = source.bytesPerPixel;
  // The file written is always a 54-byte header followed by raw rows. A source with a larger info
  // header, masks, a palette or a gap would otherwise hand on an offset, header size or compression
  // that no longer describes the file; for a plain source these are the values it already has.
  if (SetPlainBMPLayout(output, rect.width, rect.height) == 0) return 0;
  const size_t rowBytes = static_cast<size_t>(output.rowStride);
  uint8_t* pixels =
      static_cast<uint8_t*>(PlatformCalloc(static_cast<size_t>(rect.height) * rowBytes, 1));
  if (pixels == nullptr) return 0;

  // Copy the part of each row that lies inside the source; the rest stays zero.
  const int64_t firstX = std::max<int64_t>(rect.x, 0);
  const int64_t endX = std::min<int64_t>(int64_t{rect.x} + rect.width, source.width);
  const size_t bpp = static_cast<size_t>(source.bytesPerPixel);
  if (firstX < endX) {
    const size_t runBytes = static_cast<size_t>(endX - firstX) * bpp;
    const size_t outOffset = static_cast<size_t>(firstX - rect.x) * bpp;
    for (int32_t i = 0; i < rect.height; ++i) {
      const int64_t sy = int64_t{rect.y} + i;
      if (sy < 0 || sy >= source.height) continue;
      const uint8_t* from = PixelAt(source, static_cast<int32_t>(firstX), static_cast<int32_t>(sy));
      std::memcpy(pixels + static_cast<size_t>(i) * rowBytes + outOffset, from, runBytes);
    }
  }
  output.pixels = pixels;
  return 1;
}

}  // namespace bmpface
