// Turning a picture upright by its EXIF orientation while its rows are copied: stored rows in,
// upright rows out, RGB(A) turned into the library's BGR(A) on the way. Pure functions over memory.
#ifndef BMPFACE_TOOLS_PHOTO_ORIENT_H_
#define BMPFACE_TOOLS_PHOTO_ORIENT_H_

#include <cstddef>
#include <cstdint>

namespace bmpface::photo {

// EXIF orientation: 1 upright, 2 mirrored left to right, 3 turned half round, 4 mirrored top to
// bottom, 5 mirrored along the main diagonal (transposed), 6 to be turned a quarter clockwise,
// 7 mirrored along the other diagonal, 8 to be turned a quarter anticlockwise. Any other value is
// taken as 1.
inline int ValidOrientation(int orientation) {
  return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// Orientations 5 to 8 exchange width and height.
inline bool SwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

// The stored picture's geometry and the upright picture's buffer, for PlaceRows.
struct UprightTarget {
  int orientation;  // 1 to 8
  int32_t width;    // of the stored picture
  int32_t height;
  int bands;         // 3 (RGB) or 4 (RGBA), in the stored rows and the upright picture alike
  uint8_t* pixels;   // the upright picture: BGR(A), rows top-down
  size_t rowStride;  // bytes from one upright row to the next
};

// Copies `count` stored rows, the first being row `top`, each `stride` bytes after the previous,
// into their upright places in `target`, swapping red and blue.
void PlaceRows(const UprightTarget& target, const uint8_t* rows, size_t stride, int32_t top,
               int32_t count);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_ORIENT_H_
