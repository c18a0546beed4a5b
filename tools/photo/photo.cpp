// The photo layer's request: what this build can read, the decision on the face the search chose,
// and the hooks that run loading (photo_load.cpp), that decision and saving (photo_save.cpp).
#include "photo/photo.h"

#include "photo/backend.h"
#include "photo/verify.h"

namespace bmpface::photo {

bool BuiltWithVips() {
#ifdef BMPFACE_HAVE_VIPS
  return true;
#else
  return false;
#endif
}

std::string PhotoSupport() {
  if (!BuiltWithVips()) return "pictures: BMP only (built without libvips)";
  std::string error;
  const Backend* backend = LoadBackend(error);
  if (backend == nullptr) return "pictures: BMP only (" + error + ")";
  return std::string("pictures: BMP, and through libvips ") + backend->libraryVersion() +
         " JPEG, PNG, WebP, TIFF, GIF, HEIF and AVIF where it has the loader";
}

bool StartPhotoLayer(int threads, std::string& error) {
  const Backend* backend = LoadBackend(error);
  return backend != nullptr && backend->start(threads, error);
}

int DecideFace(const BMPImage& source, const PhotoOptions& options, const SkinRegion& chosen,
               FaceRect& rect, FaceDecision& decision, std::string& error) {
  decision = FaceDecision{};
  if (options.verify) {
    decision.verified = VerifyRegion(source, chosen, decision.face, error) == 1;
    if (!decision.verified) return kFaceNotConfirmed;
  }
  if (options.framing.Any()) {
    const FaceRect region{chosen.minX, chosen.minY, chosen.maxX - chosen.minX + 1,
                          chosen.maxY - chosen.minY + 1};
    const FrameFrom from = options.framing.from;
    const FaceRect& base = from == FrameFrom::kRegion ? region
                           : from == FrameFrom::kFace ? decision.face
                                                      : rect;
    rect = FrameFace(base, source.width, source.height, options.framing);
  }
  return 1;
}

int PhotoFaceHook(void* context, const BMPImage& source, FaceRect& rect) {
  PhotoRequest& request = *static_cast<PhotoRequest*>(context);
  request.face = rect;
  FaceDecision decision;
  const int decided =
      DecideFace(source, *request.options, request.facts.chosen, rect, decision, request.error);
  request.verified = decision.verified;
  request.verifiedFace = decision.face;
  if (decided != 1) return decided;
  return request.stopAfterFace ? 0 : 1;
}

RequestHooks PhotoHooks(PhotoRequest& request) {
  RequestHooks hooks{};
  hooks.context = &request;
  hooks.facts = &request.facts;
  hooks.load = PhotoLoadHook;
  hooks.face = PhotoFaceHook;
  hooks.save = PhotoSaveHook;
  return hooks;
}

}  // namespace bmpface::photo
