// The explanation: one request, through the library's own request function with the caller's
// hooks, and a drawing of what its search saw. The canvas is drawn from the mask the search built
// on the upright pixels, the regions are those the search walked, with the tests and scores it gave
// them, the chosen one is the one its facts name, and the rectangles are the ones a crop would use.
// Nothing is computed again here.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "api/request.h"
#include "explain/draw.h"
#include "explain/explain.h"
#include "explain/labels.h"
#include "explain/layout.h"
#include "photo/photo.h"

namespace bmpface::cli {
namespace {

constexpr RGB kSkinTint{0, 190, 255};
constexpr RGB kCandidate{40, 230, 40};
constexpr RGB kRejected{255, 50, 50};
constexpr RGB kFaceRect{255, 215, 0};
constexpr RGB kCropRect{255, 60, 255};

// A small picture is drawn enlarged, whole pixels to a block, until its longer side has this many.
constexpr int32_t kMinLongSide = 480;

// What the request showed of its search.
struct Seen {
  Canvas canvas;
  bool canvasMade = false;
  std::vector<RegionSeen> regions;  // those that pass the size tests, in scan order
  SearchEnd end = SearchEnd::kNone;
  bool outOfMemory = false;  // for the canvas or the list of regions
};

// The picture dimmed to two fifths, its skin pixels tinted.
void DrawMask(void* context, const BMPImage& image, SkinMaskView mask) {
  Seen& seen = *static_cast<Seen*>(context);
  const int32_t width = image.width, height = image.height;
  try {
    seen.canvas =
        Canvas{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  } catch (const std::bad_alloc&) {
    seen.outOfMemory = true;
    return;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = PixelAt(image, x, y);
      RGB c{static_cast<uint8_t>(p[2] * 2 / 5), static_cast<uint8_t>(p[1] * 2 / 5),
            static_cast<uint8_t>(p[0] * 2 / 5)};
      if (mask[y][x] != 0) {
        // Two fifths tint: the features under the mask stay readable.
        c = {static_cast<uint8_t>((3 * c.r + 2 * kSkinTint.r) / 5),
             static_cast<uint8_t>((3 * c.g + 2 * kSkinTint.g) / 5),
             static_cast<uint8_t>((3 * c.b + 2 * kSkinTint.b) / 5)};
      }
      seen.canvas.Set(x, y, c);
    }
  }
  seen.canvasMade = true;
}

void KeepRegion(void* context, const RegionSeen& region) {
  Seen& seen = *static_cast<Seen*>(context);
  if (region.failed == CandidateTest::kNarrow || region.failed == CandidateTest::kShort) return;
  try {
    seen.regions.push_back(region);
  } catch (const std::bad_alloc&) {
    seen.outOfMemory = true;
  }
}

void KeepEnd(void* context, SearchEnd end) { static_cast<Seen*>(context)->end = end; }

// The first lines of the text output: the answer, and what was done to the picture's pixels.
std::string Heading(const std::string& name, const photo::PhotoRequest& request, bool found,
                    bool framed, const FaceRect& crop) {
  std::string text = name + ": " + (found ? "face " + Rect4(request.face) : "no face");
  if (framed) text += ", crop " + Rect4(crop);
  text += "\n";
  if (request.info.turned) {
    text +=
        "  turned upright from EXIF orientation " + std::to_string(request.info.orientation) + "\n";
  }
  if (!request.info.conversion.empty()) text += "  colours: " + request.info.conversion + "\n";
  return text;
}

std::vector<LegendEntry> Legend(size_t regions, bool found, bool framed, const FaceRect& face,
                                const FaceRect& crop) {
  std::vector<LegendEntry> legend;
  legend.push_back({false, {}, found ? "FACE " + Rect4(face) : std::string("NO FACE")});
  if (framed) legend.push_back({false, {}, "CROP " + Rect4(crop)});
  legend.push_back({false, {}, RegionCount(regions)});
  legend.push_back({true, kFaceRect, "FACE RECTANGLE"});
  if (framed) legend.push_back({true, kCropRect, "CROP, FRAMED"});
  legend.push_back({true, kCandidate, "CANDIDATE: SCORE (BEST: CHOSEN)"});
  legend.push_back({true, kRejected, "REJECTED: FIRST TEST FAILED"});
  legend.push_back({true, kSkinTint, "SKIN"});
  for (int test = 1; test <= static_cast<int>(kLastTest); ++test) {
    legend.push_back({false, {}, TestLegend(static_cast<CandidateTest>(test))});
  }
  return legend;
}

// The place among `regions` of the one the search chose, as its facts name it; regions.size()
// when it chose none.
size_t ChosenOf(const std::vector<RegionSeen>& regions, const SearchFacts& facts) {
  for (size_t i = 0; facts.found && i < regions.size(); ++i) {
    if (regions[i].number == facts.chosenNumber) return i;
  }
  return regions.size();
}

// Outlines every region and labels it: the chosen region's label first, then the candidates',
// then the rest by size. Returns how many labels had no room.
size_t DrawRegions(Drawing& drawing, const std::vector<RegionSeen>& regions, size_t chosen) {
  std::vector<size_t> order;
  for (size_t i = 0; i < regions.size(); ++i) order.push_back(i);
  const auto area = [&](size_t i) {
    const SkinRegion& r = regions[i].region;
    return int64_t{r.maxX - r.minX + 1} * (r.maxY - r.minY + 1);
  };
  const auto rank = [&](size_t i) {
    return i == chosen ? 0 : regions[i].failed == CandidateTest::kNone ? 1 : 2;
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return rank(a) != rank(b) ? rank(a) < rank(b) : area(a) > area(b);
  });
  std::vector<std::pair<Box, std::string>> labels;
  for (const size_t i : order) {
    const SkinRegion& r = regions[i].region;
    const Box box = drawing.Scaled(r.minX, r.minY, r.maxX, r.maxY);
    const bool candidate = regions[i].failed == CandidateTest::kNone;
    drawing.Outline(box, i == chosen, candidate ? kCandidate : kRejected);
    labels.emplace_back(box, RegionLabel(regions[i], i == chosen));
  }
  return drawing.Labels(labels);
}

}  // namespace

Explanation DrawExplanation(const std::string& name, RequestHooks hooks,
                            photo::PhotoRequest& request) {
  Explanation out;
  Seen seen;
  const SearchVisitor visitor{&seen, DrawMask, KeepRegion, KeepEnd};
  const photo::PhotoOptions& options = *request.options;
  request.stopAfterFace = true;
  hooks.search = &visitor;
  hooks.facts = &request.facts;
  FaceRect crop{};
  const Outcome outcome = RunRequest(name.c_str(), nullptr, &hooks, &crop);
  out.outcome = outcome;
  if (outcome == Outcome::kLoadFailed) return out;
  out.outcome = Outcome::kExtractFailed;  // out of memory, until drawn
  if (seen.end == SearchEnd::kNoMemory || seen.outOfMemory || !seen.canvasMade) return out;
  const bool found = outcome == Outcome::kFaceFound;
  const bool framed = found && options.framing.Any();
  const FaceRect face = request.face;

  const int32_t longSide = std::max(seen.canvas.width, seen.canvas.height);
  const int32_t k = std::max<int32_t>(1, (kMinLongSide + longSide - 1) / longSide);
  Drawing drawing(seen.canvas, k);
  if (!drawing.Make(seen.canvas, Legend(seen.regions.size(), found, framed, face, crop))) {
    return out;
  }
  const size_t chosen = ChosenOf(seen.regions, request.facts);
  std::string text = Heading(name, request, found, framed, crop);
  for (size_t i = 0; i < seen.regions.size(); ++i) text += RegionLine(seen.regions[i], i == chosen);
  const size_t unlabelled = DrawRegions(drawing, seen.regions, chosen);
  if (unlabelled > 0) {
    text += "  (" + std::to_string(unlabelled) + " region labels left off the picture for room)\n";
  }
  // Last, so that nothing covers them.
  if (framed) drawing.Outline(drawing.Scaled(crop), false, kCropRect);
  if (found) drawing.Outline(drawing.Scaled(face), true, kFaceRect);

  out.outcome = outcome;
  out.drawing = std::move(drawing.canvas());
  out.text = std::move(text);
  return out;
}

}  // namespace bmpface::cli
