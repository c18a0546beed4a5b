// dlib's HOG frontal face detector behind the detector table. Its model is built into dlib, so
// the module needs no file beside it.
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms/interpolation.h>
#include <dlib/revision.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <sstream>
#include <string>

#include "verify/face_detector.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif

namespace bmpface::verify {

extern const unsigned char kFrontalFaceModel[];
extern const size_t kFrontalFaceModelSize;

namespace {

#define BMPFACE_TEXT(x) #x
#define BMPFACE_NUMBER(x) BMPFACE_TEXT(x)
const char* Name() {
  return "dlib " BMPFACE_NUMBER(DLIB_MAJOR_VERSION) "." BMPFACE_NUMBER(
      DLIB_MINOR_VERSION) " HOG frontal face detector";
}

// The model as dlib stores it, built into the module (dlib_model_gen.cpp).
dlib::frontal_face_detector Model() {
  std::istringstream bytes(
      std::string(reinterpret_cast<const char*>(kFrontalFaceModel), kFrontalFaceModelSize));
  dlib::frontal_face_detector detector;
  dlib::deserialize(detector, bytes);
  return detector;
}

bool Find(const Window& window, double scale, std::vector<FoundFace>& faces, std::string& error) {
  faces.clear();
  try {
    // The detector keeps scratch state while it scans: one per thread (batch -j N).
    thread_local dlib::frontal_face_detector detector = Model();
    dlib::array2d<dlib::rgb_pixel> image(window.height, window.width);
    for (int32_t y = 0; y < window.height; ++y) {
      const uint8_t* row = window.pixels + static_cast<size_t>(y) * window.rowStride;
      for (int32_t x = 0; x < window.width; ++x) {
        const uint8_t* p = row + static_cast<size_t>(x) * window.bytesPerPixel;
        image[y][x] = dlib::rgb_pixel(p[2], p[1], p[0]);
      }
    }
    const long width = std::max(1L, std::lround(window.width * scale));
    const long height = std::max(1L, std::lround(window.height * scale));
    dlib::array2d<dlib::rgb_pixel> seen(height, width);
    dlib::resize_image(image, seen);
    std::vector<dlib::rect_detection> found;
    detector(seen, found);
    const double back = static_cast<double>(window.width) / width;
    const double backY = static_cast<double>(window.height) / height;
    for (const dlib::rect_detection& d : found) {
      const dlib::rectangle r = d.rect;
      // Into the window's pixels, within it (the detector's boxes may pass its edges).
      const long x0 = std::max(0L, std::lround(r.left() * back));
      const long y0 = std::max(0L, std::lround(r.top() * backY));
      const long x1 = std::min<long>(window.width, std::lround((r.right() + 1) * back));
      const long y1 = std::min<long>(window.height, std::lround((r.bottom() + 1) * backY));
      if (x1 <= x0 || y1 <= y0) continue;
      faces.push_back({{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                        static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)},
                       d.detection_confidence});
    }
    std::sort(faces.begin(), faces.end(),
              [](const FoundFace& a, const FoundFace& b) { return a.score > b.score; });
    return true;
  } catch (const std::bad_alloc&) {
    error = "no memory for the face detector";
  } catch (const std::exception& e) {
    error = std::string("face detector: ") + e.what();
  }
  faces.clear();
  return false;
}

}  // namespace

const FaceDetector* DlibDetector() {
  static const FaceDetector table{kDetectorAbi, BMPFACE_VERSION, Name, Find};
  return &table;
}

}  // namespace bmpface::verify
