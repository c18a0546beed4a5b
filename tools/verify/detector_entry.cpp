// The one symbol the module bmpface-verify.so exports.
#include "verify/face_detector.h"

extern "C" __attribute__((visibility("default"))) const bmpface::verify::FaceDetector*
bmpface_face_detector() {
  return bmpface::verify::DlibDetector();
}
