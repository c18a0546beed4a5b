// Cost per pixel of the skin mask and of the whole detection on synthetic photo-like pictures:
// skin in ellipses and rectangles of many sizes with smooth shading, a few dark spots (eyes,
// shadows) inside them, on a smoothly shaded background that is never skin. The grids are
// obtained and released inside every iteration, as in a real request.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "detect/face_search.h"
#include "detect/skin_mask.h"
#include "image/bmp_image.h"

namespace {

using bmpface::BMPImage;

struct Synthetic {
  std::vector<uint8_t> bytes;
  BMPImage image{};
  double skinShare = 0.0;
};

// A 24-bit picture with at least `percent` % of its pixels skin, always the same for a size.
const Synthetic& Picture(int32_t width, int32_t height, int percent) {
  static std::map<std::tuple<int32_t, int32_t, int>, Synthetic> cache;
  Synthetic& s = cache[{width, height, percent}];
  if (!s.bytes.empty()) return s;

  const int32_t stride = (width * 3 + 3) & ~3;
  s.bytes.assign(size_t(stride) * size_t(height), 0);
  auto pixel = [&](int32_t x, int32_t y) {
    return s.bytes.data() + size_t(y) * size_t(stride) + size_t(x) * 3;
  };
  // Background: red always below green, so never skin.
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = pixel(x, y);
      const int g = 110 + int(60.0f * std::sin(float(x) * 0.004f + float(y) * 0.002f));
      p[0] = uint8_t(100 + int(70.0f * std::cos(float(y) * 0.003f)));
      p[1] = uint8_t(g);
      p[2] = uint8_t(g - 20);
    }

  std::mt19937 rng(uint32_t(width * 31 + height * 7 + percent));
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float shortSide = float(std::min(width, height));
  const int64_t target = int64_t(width) * height * percent / 100;
  int64_t skin = 0;
  // Paints an ellipse (or, when `box`, its bounding rectangle) with skin or with a dark colour,
  // keeping the count of skin pixels exact.
  auto paint = [&](float cx, float cy, float rx, float ry, bool box, bool isSkin) {
    const int32_t x0 = std::max(0, int32_t(cx - rx)), x1 = std::min(width - 1, int32_t(cx + rx));
    const int32_t y0 = std::max(0, int32_t(cy - ry)), y1 = std::min(height - 1, int32_t(cy + ry));
    const float phase = unit(rng) * 6.0f;
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const float dx = (float(x) - cx) / rx, dy = (float(y) - cy) / ry;
        if (!box && dx * dx + dy * dy > 1.0f) continue;
        uint8_t* p = pixel(x, y);
        const bool was = bmpface::IsSkinColor(p[0], p[1], p[2]) != 0;
        if (isSkin) {
          const int r = 190 + int(35.0f * std::sin(dx * 1.3f + phase));
          const int g = r - 50 - int(12.0f * std::cos(dy * 1.7f + phase));
          p[0] = uint8_t(g - 30);
          p[1] = uint8_t(g);
          p[2] = uint8_t(r);
        } else {
          p[0] = 30;
          p[1] = 35;
          p[2] = 40;
        }
        skin += int(isSkin) - int(was);
      }
  };
  for (int blob = 0; skin < target; ++blob) {
    // Sizes from small patches to faces filling a good part of the frame, smaller ones commoner.
    float rx = shortSide * 0.008f * std::pow(25.0f, unit(rng));
    const float aspect = 0.7f + 0.7f * unit(rng);
    // Near the target, no blob much larger than what is missing, so the share stays close.
    const float fits = std::sqrt(float(target - skin) / (4.0f * aspect));
    rx = std::max(std::min(rx, fits), shortSide * 0.008f);
    const float ry = rx * aspect;
    const float cx = unit(rng) * float(width), cy = unit(rng) * float(height);
    paint(cx, cy, rx, ry, blob % 3 == 2, true);
    if (blob % 4 == 0) paint(cx - rx * 0.3f, cy - ry * 0.2f, rx * 0.12f, ry * 0.08f, false, false);
  }
  s.skinShare = double(skin) / (double(width) * double(height));

  s.image.pixels = s.bytes.data();
  s.image.width = width;
  s.image.height = height;
  s.image.bytesPerPixel = 3;
  s.image.rowStride = stride;
  s.image.infoHeader.biWidth = width;
  s.image.infoHeader.biHeight = height;
  s.image.infoHeader.biBitCount = 24;
  return s;
}

void Report(benchmark::State& state, const Synthetic& s) {
  const double pixels = double(s.image.width) * double(s.image.height);
  // Time per pixel, shown in seconds (so 1.0n is 1 ns per pixel).
  state.counters["per_pixel"] = benchmark::Counter(
      pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["skin_share"] = s.skinShare;
}

void BM_BuildSkinMask(benchmark::State& state) {
  const Synthetic& s =
      Picture(int32_t(state.range(0)), int32_t(state.range(1)), int(state.range(2)));
  for (auto _ : state) {
    bmpface::SkinMask mask = bmpface::BuildSkinMask(s.image);
    benchmark::DoNotOptimize(mask.words);
    bmpface::FreeFlagGrid(mask);
  }
  Report(state, s);
}

void BM_DetectFace(benchmark::State& state) {
  const Synthetic& s =
      Picture(int32_t(state.range(0)), int32_t(state.range(1)), int(state.range(2)));
  for (auto _ : state) {
    bmpface::FaceRect rect{};
    benchmark::DoNotOptimize(bmpface::DetectFace(s.image, rect));
    benchmark::DoNotOptimize(rect);
  }
  Report(state, s);
}

// width, height, skin percent: 1 MP and 12 MP, about 10 % and about 50 % skin.
void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "skin%"});
  for (const auto& size : {std::pair<int, int>{1000, 1000}, std::pair<int, int>{4000, 3000}})
    for (int percent : {10, 50}) b->Args({size.first, size.second, percent});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_BuildSkinMask)->Apply(Sizes);
BENCHMARK(BM_DetectFace)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
