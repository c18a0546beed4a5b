// The pixel-level calls: the request's detection and crop steps over the caller's pixels. Every
// argument is checked before a pixel is read; nothing is printed.
#include <climits>
#include <cstring>

#include "api/outcomes.h"
#include "bmpface_pixels.h"
#include "detect/face_search.h"
#include "image/bmp_image.h"
#include "image/crop.h"

using namespace bmpface;

namespace {

// The statuses of these calls, named from the one outcome table.
// Bad arguments share the status of a picture that cannot be loaded, and memory that runs out
// that of the crop without memory, as the header's names say.
constexpr int32_t kFace = FactsOf(Outcome::kFaceFound).status;
constexpr int32_t kCropped = FactsOf(Outcome::kDone).status;
constexpr int32_t kNoFace = FactsOf(Outcome::kNoFace).status;
constexpr int32_t kBadArguments = FactsOf(Outcome::kLoadFailed).status;
constexpr int32_t kNoMemory = FactsOf(Outcome::kExtractFailed).status;
static_assert(kBadArguments == BMPFACE_BAD_ARGUMENTS && kNoMemory == BMPFACE_NO_MEMORY,
              "the header's names for the pixel statuses");

// A picture record over the caller's pixels, or 0 when they cannot be one. The core addresses
// pixels with 32-bit sizes, as it does for a loaded file: the last byte read must lie within
// them. The record does not own its pixels: it is never released.
int ViewPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
               int32_t bytesPerPixel, BMPImage& view) {
  if (pixels == nullptr || width < 1 || height < 1 || (bytesPerPixel != 3 && bytesPerPixel != 4)) {
    return 0;
  }
  const int64_t rowBytes = int64_t{width} * bytesPerPixel;
  if (stride < rowBytes || int64_t{height - 1} * stride + rowBytes > INT32_MAX) return 0;
  view = BMPImage{};
  view.pixels = const_cast<uint8_t*>(pixels);  // only read: the core takes it as const BMPImage&
  view.width = width;
  view.height = height;
  view.bytesPerPixel = bytesPerPixel;
  view.rowStride = stride;
  view.infoHeader.biBitCount = static_cast<uint16_t>(8 * bytesPerPixel);  // the crop's depth
  return 1;
}

// Turns each region the search judges into the public record for the caller's visitor, and keeps
// how the search ended.
struct Walk {
  BMPFaceRegionVisitor visit;
  void* context;
  SearchEnd end;
  SearchFacts facts;
};

BMPFaceRect BoxOf(const SkinRegion& r) {
  return BMPFaceRect{r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1};
}

void SeeRegion(void* context, const RegionSeen& seen) {
  Walk& walk = *static_cast<Walk*>(context);
  NoteRegion(walk.facts, seen);
  if (walk.visit == nullptr) return;
  const SkinRegion& r = seen.region;
  BMPFaceRegion region;
  region.box = BoxOf(r);
  region.pixelCount = r.pixelCount;
  region.failedTest = static_cast<int32_t>(seen.failed);
  region.score = seen.score;
  region.leads = seen.leads;
  walk.visit(walk.context, &region);
}

void SeeEnd(void* context, SearchEnd end) { static_cast<Walk*>(context)->end = end; }

// The detection step over a view; the search's end tells "no face" from "no memory".
void Tell(const SearchFacts& f, BMPFaceFacts& out) {
  out = BMPFaceFacts{};
  if (f.found) {
    out.found = 1;
    out.box = BoxOf(f.chosen);
    out.pixelCount = f.chosen.pixelCount;
    out.fill = static_cast<float>(RegionFill(f.chosen));
    out.score = f.score;
    out.runnerUp = f.runnerUp;
  }
  out.chosenRegion = f.found ? f.chosenNumber : -1;
  out.candidates = f.candidates;
  out.skinShare = static_cast<float>(SkinShare(f));
}

int32_t Detect(const BMPImage& view, BMPFaceRegionVisitor visit, void* context,
               BMPFaceRect* rectOut, BMPFaceFacts* factsOut) {
  Walk walk{visit, context, SearchEnd::kNone, SearchFacts{}};
  walk.facts.width = view.width;
  walk.facts.height = view.height;
  const bool watched = visit != nullptr || factsOut != nullptr;
  const SearchVisitor visitor{&walk, nullptr, watched ? SeeRegion : nullptr, SeeEnd};
  FaceRect rect;
  const int found = DetectFace(view, rect, &visitor);
  if (found == 0 && walk.end == SearchEnd::kNoMemory) return kNoMemory;
  if (factsOut != nullptr) Tell(walk.facts, *factsOut);
  if (found == 0) return kNoFace;
  *rectOut = BMPFaceRect{rect.x, rect.y, rect.width, rect.height};
  return kFace;
}

}  // namespace

extern "C" BMPFACE_PIXELS_API int32_t BMPFaceDetectPixels(const uint8_t* pixels, int32_t width,
                                                          int32_t height, int32_t stride,
                                                          int32_t bytesPerPixel,
                                                          BMPFaceRect* rect) {
  return BMPFaceWalkRegions(pixels, width, height, stride, bytesPerPixel, nullptr, nullptr, rect);
}

extern "C" BMPFACE_PIXELS_API int32_t BMPFaceWalkRegions(const uint8_t* pixels, int32_t width,
                                                         int32_t height, int32_t stride,
                                                         int32_t bytesPerPixel,
                                                         BMPFaceRegionVisitor visit, void* context,
                                                         BMPFaceRect* rect) {
  return BMPFaceWalkRegionsFacts(pixels, width, height, stride, bytesPerPixel, visit, context, rect,
                                 nullptr);
}

extern "C" BMPFACE_PIXELS_API int32_t BMPFaceWalkRegionsFacts(
    const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t bytesPerPixel,
    BMPFaceRegionVisitor visit, void* context, BMPFaceRect* rect, BMPFaceFacts* facts) {
  BMPImage view;
  if (rect == nullptr || ViewPixels(pixels, width, height, stride, bytesPerPixel, view) == 0) {
    return kBadArguments;
  }
  return Detect(view, visit, context, rect, facts);
}

static_assert(BMPFACE_CANDIDATE_TESTS == static_cast<int>(kLastTest), "the header's count");

extern "C" BMPFACE_PIXELS_API size_t BMPFaceTestWords(int32_t test, char* words, size_t size) {
  const bool known = test >= 1 && test <= BMPFACE_CANDIDATE_TESTS;
  const CandidateTest which = known ? static_cast<CandidateTest>(test) : CandidateTest::kNone;
  return CandidateTestText(which, TestText::kWords, words, size);
}

extern "C" BMPFACE_PIXELS_API int32_t BMPFaceExtractPixels(const uint8_t* pixels, int32_t width,
                                                           int32_t height, int32_t stride,
                                                           int32_t bytesPerPixel,
                                                           const BMPFaceRect* rect, uint8_t* crop,
                                                           size_t cropSize) {
  BMPImage view;
  if (rect == nullptr || crop == nullptr ||
      ViewPixels(pixels, width, height, stride, bytesPerPixel, view) == 0) {
    return kBadArguments;
  }
  const FaceRect r{rect->x, rect->y, rect->width, rect->height};
  // Inside the picture, so every size below is bounded by the picture's own.
  if (r.width < 1 || r.height < 1 || r.x < 0 || r.y < 0 || r.x > width - r.width ||
      r.y > height - r.height) {
    return kBadArguments;
  }
  const size_t cropRowBytes = static_cast<size_t>(r.width) * static_cast<size_t>(bytesPerPixel);
  if (cropSize / cropRowBytes < static_cast<size_t>(r.height)) return kBadArguments;

  // The request's own crop step, then its rows without the file's row fill.
  BMPImage output;
  if (ExtractFaceRegion(view, r, output) == 0) return kNoMemory;
  for (int32_t y = 0; y < r.height; ++y) {
    std::memcpy(crop + static_cast<size_t>(y) * cropRowBytes, PixelAt(output, 0, y), cropRowBytes);
  }
  FreeBMP(output);
  return kCropped;
}
