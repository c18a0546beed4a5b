// dlib's HOG frontal face detector behind the detector table. Its model is built into dlib, so
// the module needs no file beside it.
#include <dlib/image_processing/frontal_face_detector.h>
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

// The window at the size of `seen`, sampled bilinearly straight from the picture's rows: one
// pass over the pixels the smaller picture needs, rather than a copy of the whole window first.
void Resample(const Window& window, dlib::array2d<dlib::rgb_pixel>& seen) {
  const double fx = static_cast<double>(window.width) / seen.nc();
  const double fy = static_cast<double>(window.height) / seen.nr();
  const auto at = [&window](long x, long y) {
    return window.pixels + static_cast<size_t>(y) * window.rowStride +
           static_cast<size_t>(x) * window.bytesPerPixel;
  };
  for (long y = 0; y < seen.nr(); ++y) {
    const double sy = std::clamp((y + 0.5) * fy - 0.5, 0.0, window.height - 1.0);
    const long y0 = static_cast<long>(sy);
    const long y1 = std::min<long>(y0 + 1, window.height - 1);
    const double wy = sy - y0;
    for (long x = 0; x < seen.nc(); ++x) {
      const double sx = std::clamp((x + 0.5) * fx - 0.5, 0.0, window.width - 1.0);
      const long x0 = static_cast<long>(sx);
      const long x1 = std::min<long>(x0 + 1, window.width - 1);
      const double wx = sx - x0;
      const uint8_t* p00 = at(x0, y0);
      const uint8_t* p01 = at(x1, y0);
      const uint8_t* p10 = at(x0, y1);
      const uint8_t* p11 = at(x1, y1);
      unsigned char bgr[3];
      for (int c = 0; c < 3; ++c) {
        const double top = p00[c] + wx * (p01[c] - p00[c]);
        const double bottom = p10[c] + wx * (p11[c] - p10[c]);
        bgr[c] = static_cast<unsigned char>(std::lround(top + wy * (bottom - top)));
      }
      seen[y][x] = dlib::rgb_pixel(bgr[2], bgr[1], bgr[0]);
    }
  }
}

bool Find(const Window& window, double scale, std::vector<FoundFace>& faces, std::string& error) {
  faces.clear();
  try {
    // The detector keeps scratch state while it scans: one per thread (batch -j N).
    thread_local dlib::frontal_face_detector detector = Model();
    const long width = std::max(1L, std::lround(window.width * scale));
    const long height = std::max(1L, std::lround(window.height * scale));
    dlib::array2d<dlib::rgb_pixel> seen(height, width);
    Resample(window, seen);
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
