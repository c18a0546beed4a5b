#include "photo/framing.h"

#include <algorithm>
#include <cmath>

namespace bmpface::photo {
namespace {

// Places a span of `size` (at most `limit`) whose doubled centre is `centre2` inside [0, limit).
int64_t Place(int64_t centre2, int64_t size, int64_t limit) {
  const int64_t start = (centre2 - size) / 2 - ((centre2 - size) % 2 < 0 ? 1 : 0);  // floor
  return std::clamp<int64_t>(start, 0, limit - size);
}

// a * b / c rounded to nearest, for non-negative values that fit 64 bits.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; }

}  // namespace

bool ParsePair(const std::string& text, char separator, int32_t max, int32_t& a, int32_t& b) {
  const size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  int64_t values[2] = {0, 0};
  const std::string parts[2] = {text.substr(0, at), text.substr(at + 1)};
  for (int i = 0; i < 2; ++i) {
    if (parts[i].empty() || parts[i].size() > 9) return false;
    for (const char c : parts[i]) {
      if (c < '0' || c > '9') return false;
      values[i] = values[i] * 10 + (c - '0');
    }
    if (values[i] < 1 || values[i] > max) return false;
  }
  a = static_cast<int32_t>(values[0]);
  b = static_cast<int32_t>(values[1]);
  return true;
}

FaceRect FrameFace(const FaceRect& face, int32_t width, int32_t height, const Framing& framing) {
  int64_t x0 = face.x, y0 = face.y;
  int64_t x1 = int64_t{face.x} + face.width, y1 = int64_t{face.y} + face.height;  // exclusive

  if (framing.margin > 0) {
    const double m = std::min(framing.margin, kMaxMargin);
    const int64_t dx = std::llround(m * face.width), dy = std::llround(m * face.height);
    x0 = std::max<int64_t>(x0 - dx, 0);
    y0 = std::max<int64_t>(y0 - dy, 0);
    x1 = std::min<int64_t>(x1 + dx, width);
    y1 = std::min<int64_t>(y1 + dy, height);
  }

  int64_t aw = framing.aspectW, ah = framing.aspectH;
  if (aw <= 0 || ah <= 0) {
    aw = framing.sizeW;
    ah = framing.sizeH;
  }
  if (aw > 0 && ah > 0) {
    int64_t w = x1 - x0, h = y1 - y0;
    const int64_t cx2 = x0 + x1, cy2 = y0 + y1;
    if (w * ah < h * aw) {  // too narrow: widen
      w = MulDivRound(h, aw, ah);
      if (w > width) {
        w = width;
        h = std::max<int64_t>(MulDivRound(w, ah, aw), 1);
      }
    } else if (w * ah > h * aw) {  // too wide: heighten
      h = MulDivRound(w, ah, aw);
      if (h > height) {
        h = height;
        w = std::max<int64_t>(MulDivRound(h, aw, ah), 1);
      }
    }
    w = std::clamp<int64_t>(w, 1, width);
    h = std::clamp<int64_t>(h, 1, height);
    x0 = Place(cx2, w, width);
    y0 = Place(cy2, h, height);
    x1 = x0 + w;
    y1 = y0 + h;
  }
  return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
          static_cast<int32_t>(y1 - y0)};
}

}  // namespace bmpface::photo
