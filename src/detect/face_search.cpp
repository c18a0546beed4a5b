#include "detect/face_search.h"

#include <cstddef>
#include <cstdint>

#include "detect/skin_mask.h"

namespace bmpface {

namespace {

// The face rectangle's proportions of the winning region's box.
constexpr double kRectSideMargin = 0.1;  // of the width, added on the left (and right)
constexpr double kRectRise = 0.4;        // of the height, above the region's top row
constexpr double kRectWidth = 1.2;       // of the width
constexpr double kRectHeight = 0.9;      // of the height

// The region walk: grows every region in scan order, judges it and keeps the best. Returns how
// it ended; `best` holds the winner when it is kFound. Scan order is the order of the grids' flag
// numbers, so the next region starts at the next flag that is skin and not yet visited, found 64
// flags at a time.
SearchEnd WalkRegions(SkinMaskView skinMask, int32_t width, int32_t height, SkinRegion& best,
                      const SearchVisitor* visitor) {
  FlagGrid visited;
  if (AllocateFlagGrid(skinMask.width, skinMask.height, visited) == 0) return SearchEnd::kNoMemory;
  const bool watched = visitor != nullptr && visitor->region != nullptr;
  const size_t columns = skinMask.width > 0 ? static_cast<size_t>(skinMask.width) : 0;
  const size_t total = skinMask.height > 0 ? columns * static_cast<size_t>(skinMask.height) : 0;
  const uint64_t* skin = skinMask.words;
  const uint64_t* taken = visited.words;
  const auto freeWord = [skin, taken](size_t k) { return skin[k] & ~taken[k]; };
  float bestScore = 0.0f;
  bool found = false;
  SkinRegion current{};
  int32_t number = 0;
  for (size_t at = flags::FirstSet(freeWord, 0, total); at < total;
       at = flags::FirstSet(freeWord, at + 1, total)) {
    const int32_t x = static_cast<int32_t>(at % columns);
    const int32_t y = static_cast<int32_t>(at / columns);
    if (GrowRegion(skinMask, visited, x, y, current) == 0) {
      FreeFlagGrid(visited);
      return SearchEnd::kNoMemory;  // treated like every other memory failure of the search
    }
    const CandidateTest failed = FirstFailedTest(current, width, height);
    const float score = failed == CandidateTest::kNone ? FaceScore(current, height) : 0.0f;
    // Strictly greater: of equal scores the region met first in the scan wins. Every candidate
    // scores above 0, so the first one always leads.
    const bool leads = failed == CandidateTest::kNone && score > bestScore;
    if (leads) {
      bestScore = score;
      best = current;
      found = true;
    }
    if (watched) {
      visitor->region(visitor->context, RegionSeen{current, failed, score, leads, number});
    }
    ++number;
  }
  FreeFlagGrid(visited);
  return found ? SearchEnd::kFound : SearchEnd::kNone;
}

void Ended(const SearchVisitor* visitor, SearchEnd end) {
  if (visitor != nullptr && visitor->end != nullptr) visitor->end(visitor->context, end);
}

}  // namespace

void NoteRegion(SearchFacts& facts, const RegionSeen& seen) {
  facts.skinPixels += seen.region.pixelCount;
  if (seen.failed != CandidateTest::kNone) return;
  ++facts.candidates;
  if (seen.leads != 0) {
    if (facts.found && facts.score > facts.runnerUp) facts.runnerUp = facts.score;
    facts.found = true;
    facts.chosen = seen.region;
    facts.chosenNumber = seen.number;
    facts.score = seen.score;
  } else if (seen.score > facts.runnerUp) {
    facts.runnerUp = seen.score;
  }
}

double RegionFill(const SkinRegion& region) {
  const double area = static_cast<double>(region.maxX - region.minX + 1) *
                      static_cast<double>(region.maxY - region.minY + 1);
  return area > 0 ? region.pixelCount / area : 0.0;
}

double SkinShare(const SearchFacts& facts) {
  const double area = static_cast<double>(facts.width) * static_cast<double>(facts.height);
  return area > 0 ? static_cast<double>(facts.skinPixels) / area : 0.0;
}

FaceRect FaceRectOf(const SkinRegion& region, int32_t width, int32_t height) {
  const double bw = static_cast<double>(region.maxX - region.minX + 1);
  const double bh = static_cast<double>(region.maxY - region.minY + 1);
  FaceRect r;
  r.x = region.minX - static_cast<int32_t>(kRectSideMargin * bw);
  r.y = region.minY - static_cast<int32_t>(kRectRise * bh);
  r.width = static_cast<int32_t>(kRectWidth * bw);
  r.height = static_cast<int32_t>(kRectHeight * bh);
  // Moving x or y to the edge keeps the size; only the far edges shorten it.
  if (r.x < 0) r.x = 0;
  if (r.y < 0) r.y = 0;
  if (r.x + r.width > width) r.width = width - r.x;
  if (r.y + r.height > height) r.height = height - r.y;
  return r;
}

int FindFaceRect(SkinMaskView skinMask, int32_t width, int32_t height, FaceRect& rect,
                 const SearchVisitor* visitor) {
  SkinRegion best{};
  const SearchEnd end = WalkRegions(skinMask, width, height, best, visitor);
  Ended(visitor, end);
  if (end != SearchEnd::kFound) return 0;
  rect = FaceRectOf(best, width, height);
  return 1;
}

int DetectFace(const BMPImage& image, FaceRect& rect, const SearchVisitor* visitor) {
  SkinMask mask = BuildSkinMask(image);
  return DetectFaceInMask(image, mask, rect, visitor);
}

int DetectFaceInMask(const BMPImage& image, SkinMask& mask, FaceRect& rect,
                     const SearchVisitor* visitor) {
  if (mask.words == nullptr) {
    Ended(visitor, SearchEnd::kNoMemory);
    return 0;
  }
  if (visitor != nullptr && visitor->mask != nullptr) visitor->mask(visitor->context, image, mask);
  const int result = FindFaceRect(mask, image.width, image.height, rect, visitor);
  FreeFlagGrid(mask);
  return result;
}

}  // namespace bmpface
