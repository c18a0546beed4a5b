#include "detect/face_search.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bmpface {

int FaceCandidateFailure(const SkinRegion& region, int32_t width, int32_t height) {
  const int32_t w = region.maxX - region.minX + 1;
  const int32_t h = region.maxY - region.minY + 1;
  if (w < 30) return 1;
  if (h < 30) return 2;
  if (static_cast<double>(w) > 0.9 * static_cast<double>(width)) return 3;
  if (static_cast<double>(h) > 0.9 * static_cast<double>(height)) return 4;
  // Ratios in single precision, widened for the comparison.
  const double aspect = static_cast<float>(w) / static_cast<float>(h);
  if (aspect < 0.5 || aspect > 2.0) return 5;
  // w * h fits 32 bits for any region of a loadable picture; 64 bits keeps odd records defined.
  const int64_t box = int64_t{w} * h;
  const double fill = static_cast<float>(region.pixelCount) / static_cast<float>(box);
  if (fill < 0.3) return 6;
  if (static_cast<double>(region.centerY) > 0.7 * static_cast<double>(height)) return 7;
  return 0;
}

int IsFaceCandidate(const SkinRegion& region, int32_t width, int32_t height) {
  return FaceCandidateFailure(region, width, height) == 0;
}

float FaceScore(const SkinRegion& region, int32_t height) {
  return (1.0f - static_cast<float>(region.centerY) / static_cast<float>(height)) *
         static_cast<float>(region.pixelCount);
}

int FindFaceRect(const SkinMask skinMask, int32_t width, int32_t height, FaceRect& rect) {
  SkinMask visited = AllocateRowArray(width, height);
  if (visited == nullptr) return 0;
  float bestScore = 0.0f;
  bool found = false;
  bool grown = true;
  SkinRegion best{};
  SkinRegion current{};
  for (int32_t y = 0; y < height && grown; ++y) {
    const uint8_t* skinRow = skinMask[y];
    const uint8_t* visitedRow = visited[y];
    for (int32_t x = 0; x < width; ++x) {
      // Most stretches hold no unclaimed skin: step over sixteen, then eight flags at once.
      // Flags are 0 or 1, so skin > visited, or skin & ~visited, marks where a region may start.
#if defined(__SSE2__)
      while (width - x >= 16) {
        const __m128i skin16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(skinRow + x));
        const __m128i visited16 =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(visitedRow + x));
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
      if (x >= width) break;
      if (skinRow[x] == 0 || visitedRow[x] != 0) continue;
      if (GrowRegion(skinMask, visited, width, height, x, y, current) == 0) {
        grown = false;  // out of memory: treated like every other memory failure of the search
        break;
      }
      if (IsFaceCandidate(current, width, height) == 0) continue;
      const float score = FaceScore(current, height);
      // Strictly greater: of equal scores the region met first in the scan wins.
      if (score > bestScore) {
        bestScore = score;
        best = current;
        found = true;
      }
    }
  }
  FreeRowArray(visited, height);
  if (!grown || !found) return 0;

  const double bw = static_cast<double>(best.maxX - best.minX + 1);
  const double bh = static_cast<double>(best.maxY - best.minY + 1);
  FaceRect r;
  r.x = best.minX - static_cast<int32_t>(0.1 * bw);
  r.y = best.minY - static_cast<int32_t>(0.4 * bh);
  r.width = static_cast<int32_t>(1.2 * bw);
  r.height = static_cast<int32_t>(0.9 * bh);
  // Moving x or y to the edge keeps the size; only the far edges shorten it.
  if (r.x < 0) r.x = 0;
  if (r.y < 0) r.y = 0;
  if (r.x + r.width > width) r.width = width - r.x;
  if (r.y + r.height > height) r.height = height - r.y;
  rect = r;
  return 1;
}

int DetectFace(const BMPImage& image, FaceRect& rect) {
  SkinMask mask = BuildSkinMask(image);
  if (mask == nullptr) return 0;
  const int result = FindFaceRect(mask, image.width, image.height, rect);
  FreeRowArray(mask, image.height);
  return result;
}

}  // namespace bmpface
