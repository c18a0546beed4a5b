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
  // Text on a band of `back`, its top-left corner at (x, y), each font pixel `scale` pixels
  // wide. Lower case is drawn as upper case; a character the font lacks as '?'.
  void Text(int32_t x, int32_t y, const std::string& text, int32_t scale, RGB ink, RGB back);
};

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_DRAW_H_
