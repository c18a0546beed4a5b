#include "api/request.h"

#include "detect/skin_mask.h"

namespace bmpface {

namespace {

// The skin mask is built while the picture is read: each slice of rows is classified while it is
// still in the cache, instead of in a second pass over the whole picture.
struct MaskInProgress {
  SkinMask mask;
  bool started;  // the reader saw the picture: the mask is made (or failed) here
};

void StartMask(void* context, const BMPImage& image) {
  MaskInProgress& m = *static_cast<MaskInProgress*>(context);
  m.mask = StartSkinMask(image);
  m.started = true;
}

void ClassifyRows(void* context, const BMPImage& image, int32_t firstRow, int32_t rowCount) {
  SkinMask& mask = static_cast<MaskInProgress*>(context)->mask;
  if (mask.words != nullptr) ClassifySkinRows(image, firstRow, rowCount, mask);
}

// The caller's visitor, seen through one that also notes each region into the request's facts.
struct FactsWalk {
  SearchFacts* facts;
  const SearchVisitor* inner;
};

void FactsMask(void* context, const BMPImage& image, SkinMaskView mask) {
  const SearchVisitor* inner = static_cast<FactsWalk*>(context)->inner;
  if (inner != nullptr && inner->mask != nullptr) inner->mask(inner->context, image, mask);
}

void FactsRegion(void* context, const RegionSeen& seen) {
  FactsWalk& walk = *static_cast<FactsWalk*>(context);
  NoteRegion(*walk.facts, seen);
  if (walk.inner != nullptr && walk.inner->region != nullptr) {
    walk.inner->region(walk.inner->context, seen);
  }
}

void FactsEnd(void* context, SearchEnd end) {
  const SearchVisitor* inner = static_cast<FactsWalk*>(context)->inner;
  if (inner != nullptr && inner->end != nullptr) inner->end(inner->context, end);
}

}  // namespace

Outcome RunRequest(const char* input, const char* output, const RequestHooks* hooks,
                   FaceRect* rectOut) {
  const RequestHooks none{};
  const RequestHooks& h = hooks != nullptr ? *hooks : none;

  BMPImage source;
  MaskInProgress progress{{nullptr, 0, 0}, false};
  const RowSink classify{&progress, StartMask, ClassifyRows};
  const int loaded = h.load != nullptr ? h.load(h.context, input, source, &classify)
                                       : LoadBMP(input, source, &classify);
  SkinMask& mask = progress.mask;
  if (loaded == 0) {
    FreeFlagGrid(mask);
    return Outcome::kLoadFailed;
  }
  if (!progress.started) mask = BuildSkinMask(source);

  FaceRect rect;
  FactsWalk walk{h.facts, h.search};
  const SearchVisitor withFacts{&walk, FactsMask, FactsRegion, FactsEnd};
  if (h.facts != nullptr) {
    *h.facts = SearchFacts{};
    h.facts->width = source.width;
    h.facts->height = source.height;
  }
  const SearchVisitor* visitor = h.facts != nullptr ? &withFacts : h.search;
  if (DetectFaceInMask(source, mask, rect, visitor) == 0) {
    FreeBMP(source);
    return Outcome::kNoFace;
  }
  const int goOn = h.face != nullptr ? h.face(h.context, source, rect) : 1;
  if (rectOut != nullptr) *rectOut = rect;
  if (goOn == 0 || goOn == kFaceNotConfirmed) {
    FreeBMP(source);
    return goOn == 0 ? Outcome::kFaceFound : Outcome::kUnverified;
  }

  BMPImage crop;
  if (ExtractFaceRegion(source, rect, crop) == 0) {
    FreeBMP(source);
    return Outcome::kExtractFailed;
  }
  const int saved = h.save != nullptr ? h.save(h.context, output, crop) : SaveBMP(output, crop);
  FreeBMP(source);
  FreeBMP(crop);
  return saved == 1 ? Outcome::kDone : Outcome::kSaveFailed;
}

}  // namespace bmpface
