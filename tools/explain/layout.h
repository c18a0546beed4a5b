// The explanation's layout: the picture enlarged, the outlines and labels on it, the legend below.
#ifndef BMPFACE_TOOLS_EXPLAIN_LAYOUT_H_
#define BMPFACE_TOOLS_EXPLAIN_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "explain/draw.h"
#include "image/crop.h"

namespace bmpface::cli {

// One line of the legend: a colour swatch (or none) and words.
struct LegendEntry {
  bool swatch;
  RGB colour;
  std::string text;
};

// The explanation: the picture part (enlarged k times), the outlines and labels on it, the legend
// below it.
class Drawing {
 public:
  Drawing(const Canvas& picture, int32_t k);

  int32_t scale() const { return scale_; }

  // Lays the legend out under the picture and makes the canvas, the picture enlarged into it.
  // `picture` is released as it is copied. False when memory runs out.
  bool Make(Canvas& picture, const std::vector<LegendEntry>& legend);

  // The picture's pixel box (inclusive, in picture pixels) on the canvas.
  Box Scaled(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    return {x0 * k_, y0 * k_, (x1 + 1) * k_ - 1, (y1 + 1) * k_ - 1};
  }
  Box Scaled(const FaceRect& r) const {
    return Scaled(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
  }

  void Outline(const Box& b, bool bold, RGB colour) {
    out_.Outline(b.x0, b.y0, b.x1, b.y1, bold ? bold_ : thin_, colour);
  }

  // Labels at their anchors where there is room, none over another. Returns how many had none.
  size_t Labels(const std::vector<std::pair<Box, std::string>>& labels);

  Canvas& canvas() { return out_; }

 private:
  // Copies `picture` into the canvas, each pixel a k x k block, below it the legend's background.
  bool Enlarge(Canvas& picture, int64_t height);

  int32_t k_;
  int32_t pictureW_ = 0, pictureH_ = 0, width_ = 0;
  int32_t scale_ = 2, thin_ = 1, bold_ = 3;
  Canvas out_;
};

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_LAYOUT_H_
