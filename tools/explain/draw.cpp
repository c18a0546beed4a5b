#include "explain/draw.h"

#include <algorithm>
#include <cctype>

namespace bmpface::cli {
namespace {

// A 5 x 7 font for labels: each row's five bits, leftmost pixel in bit 4. Lower case is drawn as
// upper case; a character not here as '?'.
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},
    {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},
    {'\'', {0x04, 0x04, 0x08, 0, 0, 0, 0}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0, 0x04}},  // last: stands in for any other character
};

const Glyph& GlyphFor(char c) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Glyph& g : kFont) {
    if (g.c == upper) return g;
  }
  return kFont[sizeof kFont / sizeof kFont[0] - 1];
}

}  // namespace

void Canvas::Set(int32_t x, int32_t y, RGB c) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* p =
      &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

void Canvas::Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, RGB c) {
  for (int32_t y = std::max(y0, 0); y <= std::min(y1, height - 1); ++y) {
    for (int32_t x = std::max(x0, 0); x <= std::min(x1, width - 1); ++x) Set(x, y, c);
  }
}

void Canvas::Outline(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t thickness, RGB c) {
  for (int32_t t = 0; t < thickness && x0 + t <= x1 - t && y0 + t <= y1 - t; ++t) {
    Fill(x0 + t, y0 + t, x1 - t, y0 + t, c);
    Fill(x0 + t, y1 - t, x1 - t, y1 - t, c);
    Fill(x0 + t, y0 + t, x0 + t, y1 - t, c);
    Fill(x1 - t, y0 + t, x1 - t, y1 - t, c);
  }
}

Box TextBox(int32_t x, int32_t y, const std::string& text, int32_t scale) {
  return {x - scale, y - scale, x + 6 * scale * static_cast<int32_t>(text.size()),
          y + 8 * scale - 1};
}

bool Overlap(const Box& a, const Box& b) {
  return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
}

std::vector<Box> PlaceLabels(const std::vector<LabelRequest>& labels, const Box& bounds) {
  std::vector<Box> placed(labels.size(), Box{0, 0, -1, -1});
  std::vector<Box> taken;
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelRequest& l = labels[i];
    const Box& a = l.anchor;
    const int32_t w = l.width, h = l.height, g = l.gap;
    // Inside the top-left corner, just above it, just below it, inside the bottom-left corner,
    // then the same on the right.
    const int32_t spots[8][2] = {{a.x0 + g, a.y0 + g},
                                 {a.x0, a.y0 - h - 1},
                                 {a.x0, a.y1 + 1},
                                 {a.x0 + g, a.y1 - g - h + 1},
                                 {a.x1 - g - w + 1, a.y0 + g},
                                 {a.x1 - w + 1, a.y0 - h - 1},
                                 {a.x1 - w + 1, a.y1 + 1},
                                 {a.x1 - g - w + 1, a.y1 - g - h + 1}};
    for (const auto& spot : spots) {
      const Box box{spot[0], spot[1], spot[0] + w - 1, spot[1] + h - 1};
      if (box.x0 < bounds.x0 || box.y0 < bounds.y0 || box.x1 > bounds.x1 || box.y1 > bounds.y1) {
        continue;
      }
      bool free = true;
      for (const Box& t : taken) free = free && !Overlap(box, t);
      if (!free) continue;
      placed[i] = box;
      taken.push_back(box);
      break;
    }
  }
  return placed;
}

void Canvas::Text(int32_t x, int32_t y, const std::string& text, int32_t scale, RGB ink, RGB back) {
  const int32_t advance = 6 * scale;
  const Box band = TextBox(x, y, text, scale);
  Fill(band.x0, band.y0, band.x1, band.y1, back);
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph& g = GlyphFor(text[i]);
    const int32_t left = x + advance * static_cast<int32_t>(i);
    for (int32_t row = 0; row < 7; ++row) {
      for (int32_t col = 0; col < 5; ++col) {
        if ((g.rows[row] >> (4 - col) & 1) == 0) continue;
        Fill(left + col * scale, y + row * scale, left + (col + 1) * scale - 1,
             y + (row + 1) * scale - 1, ink);
      }
    }
  }
}

}  // namespace bmpface::cli
