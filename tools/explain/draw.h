// Drawing for explain: an RGB canvas, outlines and labels in a small bitmap font.
#ifndef BMPFACE_TOOLS_EXPLAIN_DRAW_H_
#define BMPFACE_TOOLS_EXPLAIN_DRAW_H_

#include <cstdint>
#include <string>
#include <vector>

namespace bmpface::cli {

struct RGB {
  uint8_t r, g, b;
};

// An inclusive box of pixels; empty when x1 < x0.
struct Box {
  int32_t x0, y0, x1, y1;
  bool Empty() const { return x1 < x0 || y1 < y0; }
};

bool Overlap(const Box& a, const Box& b);

// The box Canvas::Text fills for `text` at (x, y): one `scale` of band around 7-row glyphs on a
// 6 x 8 cell each.
Box TextBox(int32_t x, int32_t y, const std::string& text, int32_t scale);

// A label of `width` x `height` pixels to put at `anchor` (a region's outline), `gap` pixels in
// from its edges when inside.
struct LabelRequest {
  Box anchor;
  int32_t width, height, gap;
};

// Places the labels in order, each at the first of eight spots around its anchor (inside the
// top-left corner, above, below, inside the bottom-left corner, then the same on the right) that
// lies within `bounds` and overlaps no label placed before it. A label with no such spot gets an
// empty box. Placed labels never overlap each other.
std::vector<Box> PlaceLabels(const std::vector<LabelRequest>& labels, const Box& bounds);

// An RGB picture, rows top-down, three bytes a pixel with no fill. Drawing outside it is clipped.
struct Canvas {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;

  void Set(int32_t x, int32_t y, RGB c);
  // The inclusive box.
  void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, RGB c);
  // The inclusive box's border, `thickness` pixels wide, drawn inward.
  void Outline(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t thickness, RGB c);
  // Text on a band of `back` (TextBox), its top-left corner at (x, y), each font pixel `scale`
  // pixels wide. Lower case is drawn as upper case; a character the font lacks as '?'.
  void Text(int32_t x, int32_t y, const std::string& text, int32_t scale, RGB ink, RGB back);
};

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_DRAW_H_
