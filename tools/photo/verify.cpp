#include "photo/verify.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "verify/face_detector.h"

namespace bmpface::photo {

FaceRect VerifyWindow(const SkinRegion& region, int32_t width, int32_t height) {
  const int64_t w = int64_t{region.maxX} - region.minX + 1;
  const int64_t h = int64_t{region.maxY} - region.minY + 1;
  const int64_t dx = std::llround(kVerifyMargin * static_cast<double>(w));
  const int64_t dy = std::llround(kVerifyMargin * static_cast<double>(h));
  const int64_t x0 = std::max<int64_t>(region.minX - dx, 0);
  const int64_t y0 = std::max<int64_t>(region.minY - dy, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{region.maxX} + 1 + dx, width);
  const int64_t y1 = std::min<int64_t>(int64_t{region.maxY} + 1 + dy, height);
  return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
          static_cast<int32_t>(y1 - y0)};
}

double VerifyScale(const FaceRect& window) {
  const int32_t longer = std::max(window.width, window.height);
  return longer > 0 ? static_cast<double>(kVerifySide) / longer : 1.0;
}

bool VerifierAvailable(std::string& error) { return verify::LoadFaceDetector(error) != nullptr; }

int VerifyRegion(const BMPImage& image, const SkinRegion& region, FaceRect& face,
                 std::string& error) {
  const verify::FaceDetector* detector = verify::LoadFaceDetector(error);
  if (detector == nullptr) return -1;
  const FaceRect w = VerifyWindow(region, image.width, image.height);
  verify::Window window;
  window.pixels = PixelAt(image, w.x, w.y);
  window.width = w.width;
  window.height = w.height;
  window.bytesPerPixel = image.bytesPerPixel;
  window.rowStride = static_cast<size_t>(image.rowStride);
  std::vector<verify::FoundFace> faces;
  if (!detector->find(window, VerifyScale(w), faces, error)) return -1;
  if (faces.empty()) return 0;
  const FaceRect& f = faces.front().box;
  const int64_t dx = std::llround(kFaceGrowth * f.width);
  const int64_t dy = std::llround(kFaceGrowth * f.height);
  const int64_t x0 = std::max<int64_t>(int64_t{w.x} + f.x - dx, 0);
  const int64_t y0 = std::max<int64_t>(int64_t{w.y} + f.y - dy, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{w.x} + f.x + f.width + dx, image.width);
  const int64_t y1 = std::min<int64_t>(int64_t{w.y} + f.y + f.height + dy, image.height);
  face = {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
          static_cast<int32_t>(y1 - y0)};
  return 1;
}

}  // namespace bmpface::photo
