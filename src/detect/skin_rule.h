// The skin rule: which colours count as skin. Its thresholds are named here and nowhere else; the
// row kernels (skin_mask.cpp, skin_row_x86.cpp) compare against these same constants.
#ifndef BMPFACE_DETECT_SKIN_RULE_H_
#define BMPFACE_DETECT_SKIN_RULE_H_

#include <cstdint>

namespace bmpface {

constexpr int kSkinRedAbove = 95;       // red must exceed this
constexpr int kSkinGreenAbove = 40;     // green must exceed this
constexpr int kSkinBlueAbove = 20;      // blue must exceed this
constexpr int kSkinSpreadAbove = 15;    // max(R, G, B) - min(R, G, B) must exceed this
constexpr int kSkinRedGreenAbove = 15;  // |red - green| must exceed this

// 1 when the colour is skin-like, else 0: red, green and blue above their floors, a spread above
// kSkinSpreadAbove, red above green and blue, and red and green more than kSkinRedGreenAbove
// apart. Written without branches; the result is that of testing the rules one after another.
inline int IsSkinColor(uint8_t blue, uint8_t green, uint8_t red) {
  const int b = blue;
  const int g = green;
  const int r = red;
  const int hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int rg = r - g;
  return (r > kSkinRedAbove) & (g > kSkinGreenAbove) & (b > kSkinBlueAbove) &
         (hi - lo > kSkinSpreadAbove) & (r > g) & (r > b) &
         ((rg > kSkinRedGreenAbove) | (rg < -kSkinRedGreenAbove));
}

// The rule in the form the row kernels use. With red above green and blue, the spread is
// red - min(green, blue) >= red - green, so "red exceeds green by more than kSkinRedGreenAbove"
// implies both the spread test (its threshold is no larger) and red above green; five comparisons
// remain, and they fit unsigned 8-bit vector lanes. A test checks every kernel against IsSkinColor
// for every colour.
static_assert(kSkinSpreadAbove <= kSkinRedGreenAbove, "the shortened rule relies on this");
inline uint8_t SkinFlag(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint8_t>((r > kSkinRedAbove) & (g > kSkinGreenAbove) & (b > kSkinBlueAbove) &
                              (r - g > kSkinRedGreenAbove) & (r > b));
}

}  // namespace bmpface

#endif  // BMPFACE_DETECT_SKIN_RULE_H_
