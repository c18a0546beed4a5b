// What explain says: the words of the candidate tests (made by the core from their thresholds),
// each region's label on the picture and its line of the text output.
#ifndef BMPFACE_TOOLS_EXPLAIN_LABELS_H_
#define BMPFACE_TOOLS_EXPLAIN_LABELS_H_

#include <cstddef>
#include <string>

#include "detect/candidate.h"
#include "detect/face_search.h"
#include "image/crop.h"

namespace bmpface::cli {

// A test's label on the picture, its number first ("3 W>" and the share); empty for kNone.
std::string TestLabel(CandidateTest test);

// A test's line of the legend: its label, a colon and its words.
std::string TestLegend(CandidateTest test);

// "x y width height".
std::string Rect4(const FaceRect& rect);

// The legend's count of the regions drawn: those that pass the size tests.
std::string RegionCount(size_t regions);

// A region's label on the picture: the test it failed, or its score ("BEST" for the chosen one).
std::string RegionLabel(const RegionSeen& seen, bool chosen);

// A region's line of the text output: its box, its pixels and the test it failed or its score.
std::string RegionLine(const RegionSeen& seen, bool chosen);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_LABELS_H_
