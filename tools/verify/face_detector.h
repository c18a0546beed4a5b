// The face detector that --verify asks, as one table of functions. It lives in a module of its
// own (bmpface-verify.so, dlib's HOG frontal face detector), which the command loads only for a
// request with --verify: every other request never pays for loading dlib. Both sides come from
// one build, so the table passes C++ types.
#ifndef BMPFACE_TOOLS_VERIFY_FACE_DETECTOR_H_
#define BMPFACE_TOOLS_VERIFY_FACE_DETECTOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/crop.h"

namespace bmpface::verify {

// Raised whenever the table or what it passes changes.
constexpr int kDetectorAbi = 1;

// A window of a picture: BGR or BGRA rows, top-down, `rowStride` bytes apart.
struct Window {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 3;
  size_t rowStride = 0;
};

struct FoundFace {
  FaceRect box;  // in the window's pixels
  double score;  // the detector's confidence: larger is surer
};

struct FaceDetector {
  int abi;
  const char* build;  // the bmpface version it was built with
  const char* (*name)();
  // The frontal faces in `window` seen at `scale` (the window is resized by it first, so that
  // faces of the size the detector looks for appear), surest first, boxes in the window's own
  // pixels. False with `error` saying why (out of memory).
  bool (*find)(const Window& window, double scale, std::vector<FoundFace>& faces,
               std::string& error);
};

// The module's side: defined in dlib_detector.cpp.
const FaceDetector* DlibDetector();

// The table this program uses, loaded on first call from the module. Null with `error` saying why
// when there is none (a build without dlib, a module that is missing or from another build).
const FaceDetector* LoadFaceDetector(std::string& error);

}  // namespace bmpface::verify

// The module's one exported symbol.
extern "C" const bmpface::verify::FaceDetector* bmpface_face_detector();

#endif  // BMPFACE_TOOLS_VERIFY_FACE_DETECTOR_H_
