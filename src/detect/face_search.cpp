#include "detect/face_search.h"

#include <cstdint>
#include <cstring>

#include "detect/simd.h"
#include "detect/skin_mask.h"
#if defined(BMPFACE_SSE2)
#include <emmintrin.h>
#endif

namespace bmpface {

namespace {

// The face rectangle's proportions of the winning region's box.
constexpr double kRectSideMargin = 0.1;  // of the width, added on the left (and right)
constexpr double kRectRise = 0.4;        // of the height, above the region's top row
constexpr double kRectWidth = 1.2;       // of the width
constexpr double kRectHeight = 0.9;      // of the height

// The column of the first flag at or after x that is skin and not visited, or `width`. Most
// stretches hold none: step over sixteen, then eight flags at once. Flags are 0 or 1, so
// skin > visited, or skin & ~visited, marks where a region may start.
inline int32_t NextSeed(const uint8_t* skinRow, const uint8_t* visitedRow, int32_t x,
                        int32_t width) {
#if defined(BMPFACE_SSE2)
  while (width - x >= 16) {
    const __m128i skin16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(skinRow + x));
    const __m128i visited16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(visitedRow + x));
    if (_mm_movemask_epi8(_mm_cmpgt_epi8(skin16, visited16)) != 0) break;
    x += 16;
  }
#endif
  while (width - x >= 8) {
    uint64_t skin8;
    uint64_t visited8;
    std::memcpy(&skin8, skinRow + x, 8);
    std::memcpy(&visited8, visitedRow + x, 8);
    if ((skin8 & ~visited8) != 0) break;
    x += 8;
  }
  while (x < width && skinRow[x] <= visitedRow[x]) ++x;
  return x;
}

// The region walk: grows every region in scan order, judges it and keeps the best. Returns how
// it ended; `best` holds the winner when it is kFound.
SearchEnd WalkRegions(SkinMaskView skinMask, int32_t width, int32_t height, SkinRegion& best,
                      const SearchVisitor* visitor) {
  SkinMask visited = AllocateRowArray(width, height);
  if (visited == nullptr) return SearchEnd::kNoMemory;
  const bool watched = visitor != nullptr && visitor->region != nullptr;
  float bestScore = 0.0f;
  bool found = false;
  SkinRegion current{};
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* skinRow = skinMask[y];
    const uint8_t* visitedRow = visited[y];
    for (int32_t x = NextSeed(skinRow, visitedRow, 0, width); x < width;
         x = NextSeed(skinRow, visitedRow, x + 1, width)) {
      if (GrowRegion(skinMask, visited, width, height, x, y, current) == 0) {
        FreeRowArray(visited, height);
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
      if (watched) visitor->region(visitor->context, RegionSeen{current, failed, score, leads});
    }
  }
  FreeRowArray(visited, height);
  return found ? SearchEnd::kFound : SearchEnd::kNone;
}

void Ended(const SearchVisitor* visitor, SearchEnd end) {
  if (visitor != nullptr && visitor->end != nullptr) visitor->end(visitor->context, end);
}

}  // namespace

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
  if (mask == nullptr) {
    Ended(visitor, SearchEnd::kNoMemory);
    return 0;
  }
  if (visitor != nullptr && visitor->mask != nullptr) visitor->mask(visitor->context, image, mask);
  const int result = FindFaceRect(mask, image.width, image.height, rect, visitor);
  FreeRowArray(mask, image.height);
  return result;
}

}  // namespace bmpface
