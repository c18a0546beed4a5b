// The face search: the one walk over a mask's regions, the best candidate and its rectangle.
#ifndef BMPFACE_DETECT_FACE_SEARCH_H_
#define BMPFACE_DETECT_FACE_SEARCH_H_

#include <cstdint>

#include "detect/candidate.h"
#include "detect/grid.h"
#include "detect/region.h"
#include "image/bmp_image.h"
#include "image/crop.h"

namespace bmpface {

// What the search saw of one region.
struct RegionSeen {
  SkinRegion region;
  CandidateTest failed;  // the first test it failed; kNone for a candidate
  float score;           // for candidates; 0 for the rest
  int leads;             // 1 when it became the best so far (NoteRegion keeps the last such one)
  int32_t number;        // its place in scan order, from 0
};

// How a search ended.
enum class SearchEnd { kFound, kNone, kNoMemory };

// A caller's view into a search (explain, a binding that lists regions). Plain function pointers
// with the caller's context; any of them may be null. The search is the same with or without.
struct SearchVisitor {
  void* context;
  // The skin mask once it is built, with its picture (DetectFace only); flag (x, y) is mask[y][x].
  void (*mask)(void* context, const BMPImage& image, SkinMaskView mask);
  // Every region, in scan order, as soon as it is judged.
  void (*region)(void* context, const RegionSeen& seen);
  // Once, at the end, also when memory ran out before or during the walk.
  void (*end)(void* context, SearchEnd end);
};

// What a caller needs to judge the search's choice: the chosen region and how close the decision
// was. Made from the region walk by NoteRegion; all zero before the first region.
struct SearchFacts {
  bool found;            // a region was chosen
  SkinRegion chosen;     // the chosen region (when found)
  int32_t chosenNumber;  // its RegionSeen::number (when found)
  float score;           // its score
  float runnerUp;        // the best score of the other candidates; 0 when there was none
  int32_t candidates;    // regions that passed every candidate test
  int64_t skinPixels;    // skin pixels of the whole picture: every one lies in one region
  int32_t width;         // the picture's size, set by whoever runs the walk (for SkinShare)
  int32_t height;
};

// Adds one region, as the walk reports it, to `facts`. The one place that tells the winner: the
// last region that took the lead.
void NoteRegion(SearchFacts& facts, const RegionSeen& seen);

// The share of the chosen region's box its pixels fill, 0 to 1.
double RegionFill(const SkinRegion& region);

// The share of the picture that is skin, 0 to 1.
double SkinShare(const SearchFacts& facts);

// The face rectangle of a winning region: its box widened on each side, starting above it and
// shorter than it, by the proportions kRect* of face_search.cpp, clamped to the picture.
FaceRect FaceRectOf(const SkinRegion& region, int32_t width, int32_t height);

// Searches a finished skin mask of a width x height picture for the best-scoring candidate region
// and stores its rectangle in `rect`. Returns 1, or 0 with `rect` unchanged when no region passes
// or memory runs out (for the visited map or a region's list of waiting runs).
int FindFaceRect(SkinMaskView skinMask, int32_t width, int32_t height, FaceRect& rect,
                 const SearchVisitor* visitor = nullptr);

// Builds the skin mask of a loaded picture, searches it and releases it. Returns as FindFaceRect;
// no memory for the mask is no face.
int DetectFace(const BMPImage& image, FaceRect& rect, const SearchVisitor* visitor = nullptr);

// DetectFace on a mask already built (StartSkinMask and ClassifySkinRows, while the picture was
// read): searches `mask` and releases it. A mask without words (no memory for it) is no face.
int DetectFaceInMask(const BMPImage& image, SkinMask& mask, FaceRect& rect,
                     const SearchVisitor* visitor = nullptr);

}  // namespace bmpface

#endif  // BMPFACE_DETECT_FACE_SEARCH_H_
