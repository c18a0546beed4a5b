// The face candidate test and the score: which skin regions may be a face, and which is best.
#ifndef BMPFACE_DETECT_CANDIDATE_H_
#define BMPFACE_DETECT_CANDIDATE_H_

#include <cstdint>

#include "detect/region.h"

namespace bmpface {

// The candidate test's constants.
constexpr int32_t kMinRegionSide = 30;    // width and height at least this many pixels
constexpr double kMaxPictureShare = 0.9;  // width and height at most this share of the picture's
constexpr double kMinAspect = 0.5;        // width / height at least this
constexpr double kMaxAspect = 2.0;        // and at most this
constexpr double kMinFill = 0.3;          // pixels / box area at least this
constexpr double kMaxCentreDepth = 0.7;   // centre row at most this share of the height down

// The candidate tests in the order they are made; kNone when a region passes them all.
enum class CandidateTest {
  kNone = 0,
  kNarrow = 1,   // narrower than 30 pixels
  kShort = 2,    // shorter than 30 pixels
  kTooWide = 3,  // wider than 0.9 of the picture
  kTooTall = 4,  // taller than 0.9 of the picture
  kAspect = 5,   // width / height outside 0.5 to 2
  kSparse = 6,   // less than 0.3 full
  kLow = 7,      // centre in the lowest 30 % of the picture
};

// The first test that `region` of a width x height picture fails, or kNone. The mix of single and
// double precision is part of the rule: ratios in single precision, products with the picture's
// size and every comparison in double precision.
CandidateTest FirstFailedTest(const SkinRegion& region, int32_t width, int32_t height);

// 1 when `region` may be a face (it fails no test), else 0.
int IsFaceCandidate(const SkinRegion& region, int32_t width, int32_t height);

// The score of a candidate in a picture `height` rows high: (1 - centerY / height) * pixelCount,
// every step in single precision. Larger regions higher up score more.
float FaceScore(const SkinRegion& region, int32_t height);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_CANDIDATE_H_
