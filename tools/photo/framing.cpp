#include "photo/framing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

bool ParseMargin(const std::string& text, double& share, std::string& error) {
  // Digits and one point, nothing else: no sign, space, exponent, "nan" or "inf".
  bool digit = false;
  int points = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.') {
      ++points;
    } else {
      points = 2;
      break;
    }
  }
  if (!digit || points > 1) {
    error = "\"" + text + "\" is not a number";
    return false;
  }
  const double value = std::strtod(text.c_str(), nullptr);
  if (!(value >= 0 && value <= kMaxMargin)) {
    error = "\"" + text + "\" is not from 0 to " + std::to_string(static_cast<int>(kMaxMargin));
    return false;
  }
  share = value;
  return true;
}

bool ParseMargins(const std::string& text, Margins& margins, std::string& error) {
  double values[4];
  size_t count = 0, from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    const std::string part = text.substr(from, comma == std::string::npos ? comma : comma - from);
    if (count == 4) {
      error = "expected one share or four (top,right,bottom,left)";
      return false;
    }
    if (!ParseMargin(part, values[count++], error)) return false;
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (count == 1) {
    margins = Margins(values[0]);
  } else if (count == 4) {
    margins = Margins(values[0], values[1], values[2], values[3]);
  } else {
    error = "expected one share or four (top,right,bottom,left)";
    return false;
  }
  return true;
}

void OutputSize(int32_t cropW, int32_t cropH, const Framing& framing, int32_t& width,
                int32_t& height) {
  width = cropW;
  height = cropH;
  if (framing.sizeW <= 0 || framing.sizeH <= 0) return;
  width = framing.sizeW;
  height = framing.sizeH;
  if (!framing.noUpscale || (cropW >= framing.sizeW && cropH >= framing.sizeH)) return;
  // The crop's share of --size on its tighter side; rounding never passes the crop's side.
  const double f = std::min(static_cast<double>(cropW) / framing.sizeW,
                            static_cast<double>(cropH) / framing.sizeH);
  width = std::max<int32_t>(static_cast<int32_t>(std::lround(framing.sizeW * f)), 1);
  height = std::max<int32_t>(static_cast<int32_t>(std::lround(framing.sizeH * f)), 1);
}

bool FrameFromWord(const std::string& word, FrameFrom& from) {
  static const struct {
    const char* word;
    FrameFrom from;
  } kWords[] = {
      {"rule", FrameFrom::kRule}, {"region", FrameFrom::kRegion}, {"face", FrameFrom::kFace}};
  for (const auto& w : kWords) {
    if (word == w.word) {
      from = w.from;
      return true;
    }
  }
  return false;
}

FaceRect FrameFace(const FaceRect& face, int32_t width, int32_t height, const Framing& framing) {
  int64_t x0 = face.x, y0 = face.y;
  int64_t x1 = int64_t{face.x} + face.width, y1 = int64_t{face.y} + face.height;  // exclusive

  const Margins& m = framing.margin;
  if (m.Any()) {
    const auto share = [](double value, int32_t side) {
      return std::llround(std::clamp(value, 0.0, kMaxMargin) * side);
    };
    x0 = std::max<int64_t>(x0 - share(m.left, face.width), 0);
    y0 = std::max<int64_t>(y0 - share(m.top, face.height), 0);
    x1 = std::min<int64_t>(x1 + share(m.right, face.width), width);
    y1 = std::min<int64_t>(y1 + share(m.bottom, face.height), height);
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
