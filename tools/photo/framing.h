// Framing: the crop people ask for around the face rectangle. Pure arithmetic on rectangles.
#ifndef BMPFACE_TOOLS_PHOTO_FRAMING_H_
#define BMPFACE_TOOLS_PHOTO_FRAMING_H_

#include <cstdint>
#include <string>

#include "image/crop.h"

namespace bmpface::photo {

// Default: all off, the face rectangle as the library finds it.
struct Framing {
  double margin = 0;    // --margin F: F times the rectangle's width (height) added left and
                        // right (above and below)
  int32_t aspectW = 0;  // --aspect W:H; 0 for none
  int32_t aspectH = 0;
  int32_t sizeW = 0;  // --size WxH: the crop is resized to exactly this; 0 for none
  int32_t sizeH = 0;

  bool Any() const { return margin > 0 || aspectW > 0 || sizeW > 0; }
};

// The limits of the options' values.
constexpr double kMaxMargin = 10;
constexpr int32_t kMaxAspectTerm = 100000;
constexpr int32_t kMaxSide = 65535;

// Reads "A:B" (separator ':') or "AxB" (separator 'x'): two whole numbers from 1 to `max`.
bool ParsePair(const std::string& text, char separator, int32_t max, int32_t& a, int32_t& b);

// The rectangle to crop for `face` in a `width` x `height` picture:
//   1. the margin, rounded to whole pixels, then clamped to the picture;
//   2. the aspect (from --aspect, or --size's W:H): the shorter side grows about the rectangle's
//      centre to the nearest whole size of that aspect; where that leaves the picture, the
//      rectangle shifts back inside it; where the picture is too small for it, the longer side
//      shrinks instead, about the centre, so that the rectangle fills the picture's side.
// The result lies inside the picture and keeps an area. `face` must lie inside the picture.
FaceRect FrameFace(const FaceRect& face, int32_t width, int32_t height, const Framing& framing);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_FRAMING_H_
