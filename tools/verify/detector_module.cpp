// The command's way to the face detector: the module bmpface-verify.so, loaded on first need by
// the same search as the libvips module (photo/module_loader.h).
#include <string>

#include "photo/module_loader.h"
#include "verify/face_detector.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::verify {

const FaceDetector* LoadFaceDetector(std::string& error) {
  return photo::LoadModuleTable<FaceDetector>("bmpface-verify.so", "the face detector's module",
                                              "bmpface_face_detector", kDetectorAbi,
                                              BMPFACE_VERSION, error);
}

}  // namespace bmpface::verify
