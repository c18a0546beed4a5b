// The per-pixel grids of a search: the skin mask and the visited map.
#ifndef BMPFACE_DETECT_GRID_H_
#define BMPFACE_DETECT_GRID_H_

#include <cstdint>

namespace bmpface {

// `height` separately obtained rows of `width` one-byte flags, top row first; flag x of row y
// belongs to pixel (x, y). Used for the skin mask and the visited map; released with FreeRowArray.
using SkinMask = uint8_t**;
// The same grid, for code that only reads it.
using SkinMaskView = const uint8_t* const*;

// A grid of zero flags, or null when memory runs out (having released what it obtained, newest
// row first, then the row table).
SkinMask AllocateRowArray(int32_t width, int32_t height);

// Releases rows 0 to rowCount - 1, then the table. Harmless on null.
void FreeRowArray(SkinMask rows, int32_t rowCount);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_GRID_H_
