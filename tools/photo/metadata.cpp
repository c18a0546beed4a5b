#include "photo/metadata.h"

#include <cstddef>
#include <cstring>

#include "image/bmp_bytes.h"

namespace bmpface::photo {

bool StripJPEGMetadata(std::vector<uint8_t>& bytes) {
  const size_t n = bytes.size();
  if (n < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 2);
  size_t i = 2;
  while (true) {
    if (i + 4 > n || bytes[i] != 0xFF) return false;
    const uint8_t marker = bytes[i + 1];
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    const size_t length = size_t{bytes[i + 2]} << 8 | bytes[i + 3];
    if (length < 2 || i + 2 + length > n) return false;
    if (marker == 0xDA) {  // start of scan: the rest is kept as it is
      out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(i), bytes.end());
      break;
    }
    const bool drop = marker == 0xE1 || marker == 0xED || marker == 0xFE;
    if (!drop) {
      out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(i),
                 bytes.begin() + static_cast<ptrdiff_t>(i + 2 + length));
    }
    i += 2 + length;
  }
  bytes.swap(out);
  return true;
}

bool StripWebPMetadata(std::vector<uint8_t>& bytes) {
  const size_t n = bytes.size();
  if (n < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WEBP", 4) != 0) {
    return false;
  }
  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 12);
  size_t vp8x = 0;  // where the VP8X chunk landed in `out`, 0 for none
  for (size_t i = 12; i < n;) {
    if (i + 8 > n) return false;
    const uint32_t size = ReadLE32(bytes.data() + i + 4);
    const size_t whole = 8 + size + (size & 1);  // chunks are padded to even sizes
    if (whole > n - i) return false;
    const bool drop = std::memcmp(bytes.data() + i, "EXIF", 4) == 0 ||
                      std::memcmp(bytes.data() + i, "XMP ", 4) == 0;
    if (!drop) {
      if (std::memcmp(bytes.data() + i, "VP8X", 4) == 0 && size >= 1) vp8x = out.size();
      out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(i),
                 bytes.begin() + static_cast<ptrdiff_t>(i + whole));
    }
    i += whole;
  }
  if (vp8x != 0) out[vp8x + 8] &= static_cast<uint8_t>(~(0x08 | 0x04));  // the EXIF and XMP flags
  WriteLE32(out.data() + 4, static_cast<uint32_t>(out.size() - 8));
  bytes.swap(out);
  return true;
}

}  // namespace bmpface::photo
