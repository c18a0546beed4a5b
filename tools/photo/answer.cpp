#include "photo/answer.h"

#include "api/outcomes.h"
#include "photo/bmp_other.h"
#include "platform/platform.h"

namespace bmpface::photo {

void AnswerPixels(const BMPImage& image, const PhotoOptions& options, PixelAnswer& answer) {
  answer = PixelAnswer{};
  BMPFaceRect found{};
  answer.status =
      BMPFaceWalkRegionsFacts(image.pixels, image.width, image.height, image.rowStride,
                              image.bytesPerPixel, nullptr, nullptr, &found, &answer.facts);
  Outcome outcome = Outcome::kNoFace;
  if (answer.status == BMPFACE_OK) {
    const BMPFaceRect& b = answer.facts.box;
    SkinRegion chosen{};
    chosen.minX = b.x;
    chosen.maxX = b.x + b.width - 1;
    chosen.minY = b.y;
    chosen.maxY = b.y + b.height - 1;
    answer.rect = {found.x, found.y, found.width, found.height};
    std::string error;
    answer.face = DecideFace(image, options, chosen, answer.rect, answer.decision, error) == 1;
    outcome = answer.face ? Outcome::kFaceFound : Outcome::kUnverified;
  }
  answer.word = FactsOf(outcome).word;
}

bool CropFace(const BMPImage& source, const FaceRect& rect, const PhotoOptions& options, bool alpha,
              BMPImage& crop, std::string& error) {
  if (ExtractFaceRegion(source, rect, crop) == 0) {
    error = "out of memory";
    return false;
  }
  int32_t outW = 0, outH = 0;
  OutputSize(crop.width, crop.height, options.framing, outW, outH);
  if (outW == crop.width && outH == crop.height) return true;
  BMPImage resized{};
  const bool ok = ResizeCrop(crop, outW, outH, alpha, resized, error);
  FreeBMP(crop);
  crop = resized;
  return ok;
}

bool NewPackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel) {
  DescribePackedPicture(image, width, height, bytesPerPixel);
  const uint64_t bytes = static_cast<uint64_t>(image.rowStride) * static_cast<uint64_t>(height);
  image.pixels = bytes <= SIZE_MAX ? static_cast<uint8_t*>(PlatformMalloc(bytes)) : nullptr;
  return image.pixels != nullptr;
}

}  // namespace bmpface::photo
