// Tests link the detector in: the table without the module.
#include "verify/face_detector.h"

namespace bmpface::verify {

const FaceDetector* LoadFaceDetector(std::string&) { return DlibDetector(); }

}  // namespace bmpface::verify
