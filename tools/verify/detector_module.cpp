// The command's way to the face detector: the module bmpface-verify.so, loaded on first need by
// the same search as the libvips module (photo/module_loader.h).
#include <mutex>
#include <string>

#include "photo/module_loader.h"
#include "verify/face_detector.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::verify {
namespace {

const FaceDetector* loaded = nullptr;
std::string whyNot;

void Load() {
  photo::LoadModule(
      "bmpface-verify.so", "the face detector's module", "bmpface_face_detector",
      [](void* symbol) -> std::string {
        using Entry = const FaceDetector* (*)();
        const FaceDetector* detector = reinterpret_cast<Entry>(symbol)();
        if (detector == nullptr || detector->abi != kDetectorAbi ||
            std::string(detector->build) != BMPFACE_VERSION) {
          return "not from this build of bmpface";
        }
        loaded = detector;
        return "";
      },
      whyNot);
}

}  // namespace

const FaceDetector* LoadFaceDetector(std::string& error) {
  static std::once_flag once;
  std::call_once(once, Load);
  if (loaded == nullptr) error = whyNot;
  return loaded;
}

}  // namespace bmpface::verify
