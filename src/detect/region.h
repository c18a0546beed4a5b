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

// First capacity of the work stacks, in positions; they double whenever a push finds them full.
constexpr int32_t kInitialStackCapacity = 10000;

// Grows the 4-connected skin region that holds the seed (a skin pixel not yet visited), marks
// each of its pixels in `visited` and measures it into `region`. Returns 1 when the region was
// measured completely, 0 when the work stacks could not be obtained or enlarged; `region` must
// then not be used.
int GrowRegion(SkinMaskView skinMask, SkinMask visited, int32_t width, int32_t height,
               int32_t seedX, int32_t seedY, SkinRegion& region);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_REGION_H_
