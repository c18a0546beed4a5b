// The face candidate test and the score: which skin regions may be a face, and which is best; and
// the tests' words, made from their constants so that no other file repeats a threshold.
#ifndef BMPFACE_DETECT_CANDIDATE_H_
#define BMPFACE_DETECT_CANDIDATE_H_

#include <cstddef>
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
  kNarrow = 1,   // width below kMinRegionSide
  kShort = 2,    // height below kMinRegionSide
  kTooWide = 3,  // width above kMaxPictureShare of the picture's
  kTooTall = 4,  // height above kMaxPictureShare of the picture's
  kAspect = 5,   // width / height outside kMinAspect to kMaxAspect
  kSparse = 6,   // fill below kMinFill
  kLow = 7,      // centre row below kMaxCentreDepth of the height
};
constexpr CandidateTest kLastTest = CandidateTest::kLow;

// The first test that `region` of a width x height picture fails, or kNone. The mix of single and
// double precision is part of the rule: ratios in single precision, products with the picture's
// size and every comparison in double precision.
CandidateTest FirstFailedTest(const SkinRegion& region, int32_t width, int32_t height);

// How a test is told: a short label for a drawing ("W<" and the side), or words for people.
enum class TestText { kLabel, kWords };

// Writes the text of `test` (the empty text for kNone), made from the constants above, into `out`
// as snprintf does: at most `size` bytes with the terminating zero (none when `size` is 0); returns
// the length of the whole text. A caller's buffer keeps the call free of allocation, so the C API
// and the request path can use it as it is.
size_t CandidateTestText(CandidateTest test, TestText form, char* out, size_t size);

// The score of a candidate in a picture `height` rows high: (1 - centerY / height) * pixelCount,
// every step in single precision. Larger regions higher up score more.
float FaceScore(const SkinRegion& region, int32_t height);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_CANDIDATE_H_
