// A build without dlib: --verify is refused, saying why.
#include "verify/face_detector.h"

namespace bmpface::verify {

const FaceDetector* LoadFaceDetector(std::string& error) {
  error = "this bmpface was built without the face detector (dlib: libdlib-dev)";
  return nullptr;
}

}  // namespace bmpface::verify
