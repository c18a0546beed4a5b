#include "explain/layout.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace bmpface::cli {
namespace {

constexpr RGB kText{255, 255, 255};
constexpr RGB kTextBack{0, 0, 0};
constexpr RGB kLegendBack{28, 28, 28};

}  // namespace

Drawing::Drawing(const Canvas& picture, int32_t k) : k_(k) {
  pictureW_ = picture.width * k;
  pictureH_ = picture.height * k;
  // Text and lines grow with large pictures, so that they read at the same size when shown whole.
  // A strip's long side counts for at most twice its short one: a 70000 x 2 picture would otherwise
  // get letters 700 pixels tall and a legend hundreds of times the picture's size.
  const int64_t shown = std::min<int64_t>(std::max(pictureW_, pictureH_),
                                          int64_t{2} * std::min(pictureW_, pictureH_));
  scale_ = static_cast<int32_t>(std::max<int64_t>(2, (shown + 799) / 800));
  thin_ = (scale_ + 1) / 2;
  bold_ = 3 * thin_;
}

bool Drawing::Enlarge(Canvas& picture, int64_t height) {
  try {
    if (k_ == 1 && width_ == picture.width) {
      // The picture's own rows stay where they are; the legend's rows follow them.
      out_ = std::move(picture);
      out_.rgb.resize(static_cast<size_t>(width_) * static_cast<size_t>(height) * 3);
      out_.height = static_cast<int32_t>(height);
      out_.Fill(0, pictureH_, width_ - 1, out_.height - 1, kLegendBack);
      return true;
    }
    out_ = Canvas{width_, static_cast<int32_t>(height),
                  std::vector<uint8_t>(static_cast<size_t>(width_) * height * 3)};
  } catch (const std::bad_alloc&) {
    return false;
  }
  out_.Fill(0, 0, width_ - 1, out_.height - 1, kLegendBack);
  for (int32_t y = 0; y < pictureH_; ++y) {
    const uint8_t* from = &picture.rgb[static_cast<size_t>(y / k_) * picture.width * 3];
    uint8_t* to = &out_.rgb[static_cast<size_t>(y) * width_ * 3];
    for (int32_t x = 0; x < pictureW_; ++x) std::memcpy(to + x * 3, from + (x / k_) * 3, 3);
  }
  picture = Canvas{};
  return true;
}

bool Drawing::Make(Canvas& picture, const std::vector<LegendEntry>& legend) {
  const int32_t s = scale_, pad = 3 * s, line = 11 * s, swatch = 7 * s;
  int32_t widest = 0;
  for (const LegendEntry& e : legend) {
    const Box text = TextBox(0, 0, e.text, s);
    widest = std::max(widest, swatch + 3 * s + (text.x1 - text.x0 + 1));
  }
  const int32_t column = widest + 4 * s;
  width_ = std::max(pictureW_, column + 2 * pad);
  const int32_t columns = std::max<int32_t>(1, (width_ - 2 * pad) / column);
  const int32_t count = static_cast<int32_t>(legend.size());
  const int32_t rows = (count + columns - 1) / columns;
  const int64_t height = int64_t{pictureH_} + rows * line + 2 * pad;
  if (static_cast<uint64_t>(width_) * static_cast<uint64_t>(height) * 3 > SIZE_MAX / 2 ||
      height > INT32_MAX) {
    return false;
  }
  if (!Enlarge(picture, height)) return false;
  for (int32_t i = 0; i < count; ++i) {
    const LegendEntry& e = legend[static_cast<size_t>(i)];
    const int32_t x = pad + (i / rows) * column, y = pictureH_ + pad + (i % rows) * line;
    int32_t textX = x;
    if (e.swatch) {
      out_.Fill(x, y, x + swatch - 1, y + swatch - 1, e.colour);
      textX += swatch + 3 * s;
    }
    out_.Text(textX, y, e.text, s, kText, kLegendBack);
  }
  return true;
}

size_t Drawing::Labels(const std::vector<std::pair<Box, std::string>>& labels) {
  std::vector<LabelRequest> requests;
  for (const auto& [anchor, text] : labels) {
    const Box box = TextBox(0, 0, text, scale_);
    requests.push_back({anchor, box.x1 - box.x0 + 1, box.y1 - box.y0 + 1, bold_ + scale_});
  }
  const std::vector<Box> placed = PlaceLabels(requests, {0, 0, pictureW_ - 1, pictureH_ - 1});
  size_t missing = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (placed[i].Empty()) {
      ++missing;
      continue;
    }
    out_.Text(placed[i].x0 + scale_, placed[i].y0 + scale_, labels[i].second, scale_, kText,
              kTextBack);
  }
  return missing;
}

}  // namespace bmpface::cli
