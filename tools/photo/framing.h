// Framing: the crop people ask for around the face rectangle. Pure arithmetic on rectangles.
#ifndef BMPFACE_TOOLS_PHOTO_FRAMING_H_
#define BMPFACE_TOOLS_PHOTO_FRAMING_H_

#include <cstdint>
#include <string>

#include "image/crop.h"

namespace bmpface::photo {

// Space added around the rectangle on each side: a share of its width (left, right) or height
// (top, bottom). One number is the same on all four sides.
struct Margins {
  double top = 0;
  double right = 0;
  double bottom = 0;
  double left = 0;

  constexpr Margins() = default;
  // Not explicit: one share, as --margin F has always been, is a Margins.
  constexpr Margins(double all) : top(all), right(all), bottom(all), left(all) {}
  constexpr Margins(double t, double r, double b, double l)
      : top(t), right(r), bottom(b), left(l) {}
  bool Any() const { return top > 0 || right > 0 || bottom > 0 || left > 0; }
};

// Which rectangle the framing starts from.
enum class FrameFrom {
  kRule,    // the face rectangle the library makes from the chosen region (as the export crops)
  kRegion,  // the chosen skin region's own box
  kFace,    // the face the detector of --verify found in that region
};

// The FrameFrom a word names: "rule", "region" or "face"; false for any other word.
bool FrameFromWord(const std::string& word, FrameFrom& from);

// Default: all off, the face rectangle as the library finds it.
struct Framing {
  Margins margin;       // --margin, --margin-top/-right/-bottom/-left
  int32_t aspectW = 0;  // --aspect W:H; 0 for none
  int32_t aspectH = 0;
  int32_t sizeW = 0;  // --size WxH: the crop is resized to exactly this; 0 for none
  int32_t sizeH = 0;
  bool noUpscale = false;             // --no-upscale: --size never enlarges the crop
  FrameFrom from = FrameFrom::kRule;  // --frame

  bool Any() const { return margin.Any() || aspectW > 0 || sizeW > 0 || from != FrameFrom::kRule; }
};

// The limits of the options' values.
constexpr double kMaxMargin = 10;
constexpr int32_t kMaxAspectTerm = 100000;
constexpr int32_t kMaxSide = 65535;

// Reads "A:B" (separator ':') or "AxB" (separator 'x'): two whole numbers from 1 to `max`.
bool ParsePair(const std::string& text, char separator, int32_t max, int32_t& a, int32_t& b);

// Reads --margin's value: one share for every side, or four separated by commas in the order
// top, right, bottom, left. Each from 0 to kMaxMargin, written as a plain decimal number. False
// with `error` saying why ("not a number", or out of range).
bool ParseMargins(const std::string& text, Margins& margins, std::string& error);

// Reads one side's share, as ParseMargins reads each of its numbers.
bool ParseMargin(const std::string& text, double& share, std::string& error);

// The size a crop of cropW x cropH is written at: --size, or with --no-upscale, when the crop is
// smaller than --size on either side, the largest size of --size's aspect that the crop holds
// (at least 1 x 1). Without --size, the crop's own size.
void OutputSize(int32_t cropW, int32_t cropH, const Framing& framing, int32_t& width,
                int32_t& height);

// The rectangle to crop for `face` in a `width` x `height` picture:
//   1. the margins, each rounded to whole pixels, then clamped to the picture;
//   2. the aspect (from --aspect, or --size's W:H): the shorter side grows about the rectangle's
//      centre to the nearest whole size of that aspect; where that leaves the picture, the
//      rectangle shifts back inside it; where the picture is too small for it, the longer side
//      shrinks instead, about the centre, so that the rectangle fills the picture's side.
// The result lies inside the picture and keeps an area. `face` must lie inside the picture.
FaceRect FrameFace(const FaceRect& face, int32_t width, int32_t height, const Framing& framing);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_FRAMING_H_
