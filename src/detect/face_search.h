// The candidate test, the face search and the face rectangle.
#ifndef BMPFACE_DETECT_FACE_SEARCH_H_
#define BMPFACE_DETECT_FACE_SEARCH_H_

#include <cstdint>

#include "detect/region.h"
#include "detect/skin_mask.h"
#include "image/bmp_image.h"
#include "image/crop.h"

namespace bmpface {

// 1 when `region` of a width x height picture may be a face: at least 30 x 30, at most 0.9 of
// the picture each way, aspect within [0.5, 2], at least 0.3 full, centre not in the lowest 30 %.
// The mix of single and double precision is part of the rule: it decides the boundary cases.
int IsFaceCandidate(const SkinRegion& region, int32_t width, int32_t height);

// The number of the first of those tests that `region` fails, in the order above (1 width,
// 2 height, 3 and 4 at most 0.9 each way, 5 aspect, 6 fill, 7 centre), or 0 when it passes them
// all; IsFaceCandidate is this being 0. Lets a caller say why a region was not a face.
int FaceCandidateFailure(const SkinRegion& region, int32_t width, int32_t height);

// The score of a candidate in a picture `height` rows high: (1 - centerY / height) * pixelCount,
// every step in single precision. Larger regions higher up score more.
float FaceScore(const SkinRegion& region, int32_t height);

// Searches a finished skin mask for the best-scoring candidate region and stores its widened,
// clamped rectangle in `rect`. Returns 1, or 0 with `rect` unchanged when no region passes or
// memory runs out (for the visited map or a region's work stacks).
int FindFaceRect(const SkinMask skinMask, int32_t width, int32_t height, FaceRect& rect);

// Builds the skin mask of a loaded picture, searches it and releases it. Returns as FindFaceRect.
int DetectFace(const BMPImage& image, FaceRect& rect);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_FACE_SEARCH_H_
