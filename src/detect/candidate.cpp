#include "detect/candidate.h"

#include <cfloat>
#include <cstdio>
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
namespace {

// Each test's label and words, by CandidateTest, with the thresholds they show (printed with %g).
struct Text {
  const char* label;
  const char* words;
  double first, second;
};
constexpr Text kTexts[] = {
    {"", "", 0, 0},
    {"W<%g", "narrower than %g pixels", kMinRegionSide, 0},
    {"H<%g", "shorter than %g pixels", kMinRegionSide, 0},
    {"W>%g", "wider than %g of the picture", kMaxPictureShare, 0},
    {"H>%g", "taller than %g of the picture", kMaxPictureShare, 0},
    {"ASPECT", "width / height outside %g to %g", kMinAspect, kMaxAspect},
    {"FILL<%g", "less than %g full", kMinFill, 0},
    // The depth as the share of the picture below it, in per cent, which reads better.
    {"LOW", "centre in the lowest %g %% of the picture", 100.0 * (1.0 - kMaxCentreDepth), 0},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<size_t>(kLastTest) + 1,
              "a text for every test");

}  // namespace

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

size_t CandidateTestText(CandidateTest test, TestText form, char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  const size_t index = static_cast<size_t>(test);
  if (index >= sizeof kTexts / sizeof kTexts[0]) return 0;  // a value outside the enumeration
  const Text& text = kTexts[index];
  const int length = std::snprintf(out, size, form == TestText::kLabel ? text.label : text.words,
                                   text.first, text.second);
  return length > 0 ? static_cast<size_t>(length) : 0;
}

float FaceScore(const SkinRegion& region, int32_t height) {
  return (1.0f - static_cast<float>(region.centerY) / static_cast<float>(height)) *
         static_cast<float>(region.pixelCount);
}

}  // namespace bmpface
