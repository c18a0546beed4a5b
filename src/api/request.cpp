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
  if (DetectFaceInMask(source, mask, rect, h.search) == 0) {
    FreeBMP(source);
    return Outcome::kNoFace;
  }
  const int goOn = h.face != nullptr ? h.face(h.context, source, rect) : 1;
  if (rectOut != nullptr) *rectOut = rect;
  if (goOn == 0) {
    FreeBMP(source);
    return Outcome::kFaceFound;
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
