// The 4-connected region grower.
#ifndef BMPFACE_DETECT_REGION_H_
#define BMPFACE_DETECT_REGION_H_

#include <cstdint>

#include "detect/grid.h"

namespace bmpface {

// One measured skin region: bounding box, pixel count and the centre of the box.
struct SkinRegion {
  int32_t minX;
  int32_t maxX;
  int32_t minY;
  int32_t maxY;
  int32_t pixelCount;
  int32_t centerX;
  int32_t centerY;
};

// Runs (stretches of a row) that may wait at once on the grower's own list before it obtains
// memory for a longer one; the list then doubles whenever it is full.
constexpr int32_t kWaitingRunsInPlace = 256;

// Grows the 4-connected skin region that holds the seed (a skin pixel not yet visited), marks
// each of its pixels in `visited` (a grid of the mask's size) and measures it into `region`.
// Returns 1 when the region was measured completely, 0 when memory for its list of waiting runs
// ran out; `region` must then not be used.
int GrowRegion(SkinMaskView skinMask, FlagGrid visited, int32_t seedX, int32_t seedY,
               SkinRegion& region);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_REGION_H_
