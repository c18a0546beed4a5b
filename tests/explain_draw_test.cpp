// explain's drawing: where the labels go.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "explain/draw.h"

namespace bmpface::cli {
namespace {

// explain's labels: wherever the regions lie, no two placed labels overlap, every placed label lies
// in the picture, and a label goes inside its region's top-left corner when there is room.
TEST(PlaceLabels, NeverOverlapAndStayInThePicture) {
  std::mt19937 random(14);
  const Box bounds{0, 0, 639, 479};
  for (int round = 0; round < 200; ++round) {
    std::vector<LabelRequest> labels;
    const int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      const int32_t x0 = static_cast<int32_t>(random() % 600),
                    y0 = static_cast<int32_t>(random() % 440);
      const int32_t w = 30 + static_cast<int32_t>(random() % 200),
                    h = 30 + static_cast<int32_t>(random() % 200);
      labels.push_back({{x0, y0, std::min(x0 + w, 639), std::min(y0 + h, 479)},
                        12 * (1 + static_cast<int32_t>(random() % 10)),
                        18,
                        8});
    }
    const std::vector<Box> placed = PlaceLabels(labels, bounds);
    ASSERT_EQ(placed.size(), labels.size());
    for (size_t i = 0; i < placed.size(); ++i) {
      if (placed[i].Empty()) continue;
      EXPECT_TRUE(placed[i].x0 >= 0 && placed[i].y0 >= 0 && placed[i].x1 <= 639 &&
                  placed[i].y1 <= 479);
      for (size_t j = 0; j < i; ++j) {
        ASSERT_FALSE(!placed[j].Empty() && Overlap(placed[i], placed[j]))
            << round << ": " << i << ", " << j;
      }
    }
  }
  // Alone, a label sits inside its region's top-left corner, `gap` pixels in.
  const std::vector<Box> one = PlaceLabels({{{100, 100, 300, 300}, 60, 18, 8}}, bounds);
  EXPECT_TRUE(one[0].x0 == 108 && one[0].y0 == 108 && one[0].x1 == 167 && one[0].y1 == 125);
}

}  // namespace
}  // namespace bmpface::cli
