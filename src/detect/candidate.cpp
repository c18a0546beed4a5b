#include "detect/candidate.h"

#include <cfloat>
#include <limits>

// The tests and the score are decided at the last bit of single and double precision, so each
// operation here must round to its own type. x87 arithmetic (a 32-bit x86 build without SSE2 code
// generation) keeps extra precision and would move the boundaries: such a build must not compile.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "IEEE 754 single and double precision are required");
static_assert(FLT_EVAL_METHOD == 0,
              "float and double arithmetic must round to their own precision (on 32-bit x86, "
              "build with -msse2 -mfpmath=sse)");

namespace bmpface {

CandidateTest FirstFailedTest(const SkinRegion& region, int32_t width, int32_t height) {
  const int32_t w = region.maxX - region.minX + 1;
  const int32_t h = region.maxY - region.minY + 1;
  if (w < kMinRegionSide) return CandidateTest::kNarrow;
  if (h < kMinRegionSide) return CandidateTest::kShort;
  if (static_cast<double>(w) > kMaxPictureShare * static_cast<double>(width)) {
    return CandidateTest::kTooWide;
  }
  if (static_cast<double>(h) > kMaxPictureShare * static_cast<double>(height)) {
    return CandidateTest::kTooTall;
  }
  const double aspect = static_cast<float>(w) / static_cast<float>(h);
  if (aspect < kMinAspect || aspect > kMaxAspect) return CandidateTest::kAspect;
  // w * h fits 32 bits for any region of a loadable picture; 64 bits keeps odd records defined.
  const int64_t box = int64_t{w} * h;
  const double fill = static_cast<float>(region.pixelCount) / static_cast<float>(box);
  if (fill < kMinFill) return CandidateTest::kSparse;
  if (static_cast<double>(region.centerY) > kMaxCentreDepth * static_cast<double>(height)) {
    return CandidateTest::kLow;
  }
  return CandidateTest::kNone;
}

int IsFaceCandidate(const SkinRegion& region, int32_t width, int32_t height) {
  return FirstFailedTest(region, width, height) == CandidateTest::kNone ? 1 : 0;
}

float FaceScore(const SkinRegion& region, int32_t height) {
  return (1.0f - static_cast<float>(region.centerY) / static_cast<float>(height)) *
         static_cast<float>(region.pixelCount);
}

}  // namespace bmpface
