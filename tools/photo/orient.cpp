#include "photo/orient.h"

#include <algorithm>
#include <cstddef>

namespace bmpface::photo {
namespace {

template <int kBands>
inline void Put(uint8_t* to, const uint8_t* from) {
  to[0] = from[2];
  to[1] = from[1];
  to[2] = from[0];
  if (kBands == 4) to[3] = from[3];
}

template <int kBands>
void Place(const UprightTarget& t, const uint8_t* rows, size_t stride, int32_t top, int32_t count) {
  const int o = t.orientation;
  const size_t w = static_cast<size_t>(t.width), h = static_cast<size_t>(t.height);
  if (!SwapsAxes(o)) {
    // A stored row is an upright row, read forwards or backwards.
    const bool mirrorX = o == 2 || o == 3, mirrorY = o == 3 || o == 4;
    for (int32_t k = 0; k < count; ++k) {
      const size_t sy = static_cast<size_t>(top + k);
      const uint8_t* from = rows + static_cast<size_t>(k) * stride;
      uint8_t* to = t.pixels + (mirrorY ? h - 1 - sy : sy) * t.rowStride;
      if (mirrorX) {
        for (size_t x = 0; x < w; ++x) Put<kBands>(to + (w - 1 - x) * kBands, from + x * kBands);
      } else {
        for (size_t x = 0; x < w; ++x) Put<kBands>(to + x * kBands, from + x * kBands);
      }
    }
    return;
  }
  // A stored column is an upright row: stored column sx is upright row sx (5, 6) or w-1-sx (7, 8),
  // and stored row sy is upright column sy (5, 8) or h-1-sy (6, 7). The band is walked in tiles
  // of kTile stored columns, so the upright rows being written stay in the cache while each of
  // the band's rows is read once.
  constexpr size_t kTile = 32;
  const bool reverseRows = o == 7 || o == 8, reverseColumns = o == 6 || o == 7;
  const ptrdiff_t step =
      reverseRows ? -static_cast<ptrdiff_t>(t.rowStride) : static_cast<ptrdiff_t>(t.rowStride);
  for (size_t sx0 = 0; sx0 < w; sx0 += kTile) {
    const size_t n = std::min(kTile, w - sx0);
    uint8_t* const firstRow = t.pixels + (reverseRows ? w - 1 - sx0 : sx0) * t.rowStride;
    for (int32_t k = 0; k < count; ++k) {
      const size_t sy = static_cast<size_t>(top + k);
      const uint8_t* from = rows + static_cast<size_t>(k) * stride + sx0 * kBands;
      uint8_t* to = firstRow + (reverseColumns ? h - 1 - sy : sy) * kBands;
      for (size_t j = 0; j < n; ++j, from += kBands, to += step) Put<kBands>(to, from);
    }
  }
}

}  // namespace

void PlaceRows(const UprightTarget& target, const uint8_t* rows, size_t stride, int32_t top,
               int32_t count) {
  UprightTarget t = target;
  t.orientation = ValidOrientation(t.orientation);
  if (t.bands == 4) {
    Place<4>(t, rows, stride, top, count);
  } else {
    Place<3>(t, rows, stride, top, count);
  }
}

}  // namespace bmpface::photo
