#include "explain/labels.h"

#include <cstdio>

namespace bmpface::cli {
namespace {

std::string RuleText(CandidateTest test, TestText form) {
  char text[96];
  CandidateTestText(test, form, text, sizeof text);
  return text;
}

std::string Score(const RegionSeen& seen) {
  char score[32];
  std::snprintf(score, sizeof score, "%.0f", static_cast<double>(seen.score));
  return score;
}

FaceRect BoxOf(const SkinRegion& r) {
  return {r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1};
}

}  // namespace

std::string TestLabel(CandidateTest test) {
  if (test == CandidateTest::kNone) return "";
  return std::to_string(static_cast<int>(test)) + " " + RuleText(test, TestText::kLabel);
}

std::string TestLegend(CandidateTest test) {
  return TestLabel(test) + ": " + RuleText(test, TestText::kWords);
}

std::string Rect4(const FaceRect& r) {
  return std::to_string(r.x) + " " + std::to_string(r.y) + " " + std::to_string(r.width) + " " +
         std::to_string(r.height);
}

std::string RegionCount(size_t regions) {
  const std::string side = std::to_string(kMinRegionSide);
  return std::to_string(regions) + " REGIONS " + side + "X" + side + " OR MORE";
}

std::string RegionLabel(const RegionSeen& seen, bool chosen) {
  if (seen.failed != CandidateTest::kNone) return TestLabel(seen.failed);
  return (chosen ? "BEST " : "SCORE ") + Score(seen);
}

std::string RegionLine(const RegionSeen& seen, bool chosen) {
  const SkinRegion& r = seen.region;
  const std::string why =
      seen.failed != CandidateTest::kNone
          ? "fails test " + std::to_string(static_cast<int>(seen.failed)) + ", " +
                RuleText(seen.failed, TestText::kWords)
          : (chosen ? "chosen" : "candidate") + std::string(", score ") + Score(seen);
  return "  region " + Rect4(BoxOf(r)) + ", " + std::to_string(r.pixelCount) + " pixels: " + why +
         "\n";
}

}  // namespace bmpface::cli
