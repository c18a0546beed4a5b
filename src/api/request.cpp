#include "api/request.h"

namespace bmpface {

Outcome RunRequest(const char* input, const char* output, const RequestHooks* hooks,
                   FaceRect* rectOut) {
  const RequestHooks none{};
  const RequestHooks& h = hooks != nullptr ? *hooks : none;

  BMPImage source;
  const int loaded = h.load != nullptr ? h.load(h.context, input, source) : LoadBMP(input, source);
  if (loaded == 0) return Outcome::kLoadFailed;

  FaceRect rect;
  if (DetectFace(source, rect, h.search) == 0) {
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
