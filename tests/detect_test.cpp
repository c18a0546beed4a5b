// Face detection: the skin rule, the region grower, the candidate test and the search, down to
// the boundary cases that a change of precision, order or comparison would move.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "detect/face_search.h"
#include "detect/skin_mask.h"
#include "platform/platform.h"
#include "test_support.h"

namespace bmpface {
namespace {

using test::Box;
using test::kSkin;

// A grid released on scope exit.
struct Grid {
  FlagGrid grid;
  ~Grid() { FreeFlagGrid(grid); }
  FlagGridView view() const { return grid; }
};

TEST(SkinRule, EveryThresholdOnBothSides) {
  // clang-format off
  struct Case { test::BGR c; int skin; };
  const std::vector<Case> cases = {
      {{21, 41, 96}, 1},   {{21, 41, 95}, 0},   // red above 95
      {{21, 40, 96}, 0},   {{20, 41, 96}, 0},   // green above 40, blue above 20
      {{80, 100, 116}, 1}, {{80, 100, 115}, 0},  // red leads green by more than 15
      {{84, 84, 100}, 1},  {{85, 85, 100}, 0},   // spread above 15 (with the lead)
      {{30, 120, 150}, 1}, {{30, 150, 150}, 0},  // red equal to green
      {{30, 170, 150}, 0},                       // green leads red by more than 15
      {{149, 100, 150}, 1}, {{150, 100, 150}, 0}, {{160, 100, 150}, 0},  // red above blue
      {{128, 128, 128}, 0}, {{255, 255, 255}, 0}, {{255, 0, 255}, 0},  {{21, 41, 255}, 1},
  };
  // clang-format on
  // Through the mask as well, as 24-bit and as 32-bit pixels (whose fourth bytes vary).
  const int32_t n = int32_t(cases.size());
  test::Picture p24(n, 2, 24), p32(n, 2, 32);
  for (int32_t i = 0; i < n; ++i) {
    const Case& c = cases[size_t(i)];
    EXPECT_EQ(IsSkinColor(c.c.b, c.c.g, c.c.r), c.skin) << "case " << i;
    for (int32_t y = 0; y < 2; ++y) {
      p24.Set(i, y, c.c);
      p32.Set(i, y, c.c);
    }
  }
  for (test::Picture* p : {&p24, &p32}) {
    BMPImage image = test::LoadPicture(*p);
    Grid mask{BuildSkinMask(image)};
    ASSERT_NE(mask.grid.words, nullptr);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t i = 0; i < n; ++i)
        EXPECT_EQ(mask.view().At(i, y), cases[size_t(i)].skin)
            << p->bitCount << " bits, case " << i;
    FreeBMP(image);
  }
}

// The mask's row loops use a shortened, vectorised form of the rule: each of them must agree with
// the rule for every colour, in both depths, in the vector body and in the tail of a row.
TEST(SkinRule, EveryRowKernelAgreesWithRuleForEveryColour) {
  const int32_t width = 256 + 13;  // green along x; the last 13 repeat earlier greens
  for (const SkinRowKernel kernel : {kSkinRowScalar, kSkinRowSSE2, kSkinRowAVX2}) {
    if (SkinRowKernelAvailable(kernel) == 0) continue;  // not on this processor
    for (const int32_t bpp : {3, 4}) {
      std::vector<uint8_t> row(size_t(width * bpp), 0x5A);
      std::vector<uint8_t> flags(static_cast<size_t>(width));
      int mismatches = 0;
      for (int blue = 0; blue < 256; ++blue)
        for (int red = 0; red < 256; ++red) {
          for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = row.data() + x * bpp;
            p[0] = uint8_t(blue);
            p[1] = uint8_t(x < 256 ? x : x - 200);
            p[2] = uint8_t(red);
          }
          ClassifySkinRow(kernel, row.data(), width, bpp, flags.data());
          for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row.data() + x * bpp;
            if (flags[size_t(x)] != IsSkinColor(p[0], p[1], p[2]) && ++mismatches < 5)
              ADD_FAILURE() << "kernel " << kernel << ", bpp " << bpp << ", (B,G,R) = (" << blue
                            << "," << int(p[1]) << "," << red << ")";
          }
        }
      EXPECT_EQ(mismatches, 0) << "kernel " << kernel << ", bpp " << bpp;
    }
  }
}

// The mask's flags follow the rule on pictures of every layout the mask treats apart: one pixel
// wide (4-byte pixels with the fill), narrow rows with fill bytes, rows without fill (classified
// as one run), wide rows with fill and a partial chunk; whole, and in slices of rows given
// bottom slice first, as the reader hands them over.
TEST(SkinMask, EveryLayoutFollowsTheRule) {
  const struct {
    int32_t width, height, bits;
  } layouts[] = {{1, 700, 24}, {1, 300, 32}, {5, 97, 24},   {31, 40, 24}, {64, 33, 24},
                 {33, 20, 24}, {45, 21, 32}, {1030, 9, 24}, {2051, 5, 32}};
  uint32_t state = 12345;
  const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  for (const auto& l : layouts) {
    SCOPED_TRACE(std::to_string(l.width) + " x " + std::to_string(l.height) + ", " +
                 std::to_string(l.bits) + " bits");
    test::Picture picture(l.width, l.height, l.bits);
    for (uint8_t& byte : picture.bytes) byte = uint8_t(next() >> 24);
    for (int32_t y = 0; y < l.height; ++y)  // about half skin
      for (int32_t x = 0; x < l.width; ++x)
        if (next() >> 31)
          picture.Set(
              x, y,
              {uint8_t(21 + next() % 60), uint8_t(41 + next() % 40), uint8_t(140 + next() % 100)});
    BMPImage image = test::LoadPicture(picture);
    Grid whole{BuildSkinMask(image)};
    Grid sliced{StartSkinMask(image)};
    ASSERT_NE(sliced.grid.words, nullptr);
    for (int32_t end = l.height; end > 0; end -= 3) {
      const int32_t first = end > 3 ? end - 3 : 0;
      ClassifySkinRows(image, first, end - first, sliced.grid);
    }
    int wrong = 0;
    for (int32_t y = 0; y < l.height; ++y)
      for (int32_t x = 0; x < l.width; ++x) {
        const uint8_t* p = PixelAt(image, x, y);
        const int skin = IsSkinColor(p[0], p[1], p[2]);
        if ((whole.view().At(x, y) != skin || sliced.view().At(x, y) != skin) && ++wrong < 5)
          ADD_FAILURE() << "flag " << x << ", " << y;
      }
    FreeBMP(image);
  }
}

std::vector<int32_t> Fields(const SkinRegion& r) {
  return {r.minX, r.maxX, r.minY, r.maxY, r.pixelCount, r.centerX, r.centerY};
}

TEST(GrowRegion, MeasuresOneFourConnectedRegion) {
  // clang-format off
  struct Case {
    const char* name;
    Grid mask;
    int32_t width, height, seedX, seedY;
    SkinRegion want;  // minX, maxX, minY, maxY, pixelCount, centerX, centerY
  };
  Case cases[] = {
      {"single pixel", {test::MaskFromArt({"....", "..#.", "...."})}, 4, 3, 2, 1,
       {2, 2, 1, 1, 1, 2, 1}},
      {"corner touch", {test::MaskFromArt({"#..", ".#.", "..#"})}, 3, 3, 1, 1,
       {1, 1, 1, 1, 1, 1, 1}},
      // A ring around an island: the island is not joined, the ring is followed all round.
      {"ring", {test::MaskFromArt({"#####.", "#...#.", "#.#.#.", "#...##", "#####."})}, 6, 5,
       0, 0, {0, 5, 0, 4, 17, 2, 2}},
      {"rectangle", {test::MaskWithBoxes(60, 80, {{10, 20, 49, 69}, {51, 20, 55, 69}})}, 60,
       80, 10, 20, {10, 49, 20, 69, 2000, 29, 44}},
      // Seeded low and right of centre: every edge of the box moves away from the seed.
      {"rectangle seeded inside", {test::MaskWithBoxes(60, 80, {{10, 20, 49, 69}})}, 60, 80,
       40, 60, {10, 49, 20, 69, 2000, 29, 44}},
      {"150 square", {test::MaskWithBoxes(160, 160, {{5, 5, 154, 154}})}, 160, 160, 5, 5,
       {5, 154, 5, 154, 22500, 79, 79}},
  };
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Grid visited{};
    ASSERT_EQ(AllocateFlagGrid(c.width, c.height, visited.grid), 1);
    SkinRegion r{-1, -1, -1, -1, -1, -1, -1};
    ASSERT_EQ(GrowRegion(c.mask.view(), visited.grid, c.seedX, c.seedY, r), 1);
    EXPECT_EQ(Fields(r), Fields(c.want));
    // Exactly the region is marked: skin only, inside the box, as many flags as pixels.
    int32_t marked = 0;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) {
        if (visited.view().At(x, y) == 0) continue;
        ++marked;
        EXPECT_TRUE(c.mask.view().At(x, y) == 1 && x >= r.minX && x <= r.maxX && y >= r.minY &&
                    y <= r.maxY)
            << "stray flag at " << x << "," << y;
      }
    EXPECT_EQ(marked, r.pixelCount);
  }
}

// Every region of a skin grid given as a byte per pixel, in scan order, by the plainest fill:
// pixel by pixel, depth first. What the walk and its grower must agree with on every shape.
std::vector<std::vector<int32_t>> ReferenceRegions(const std::vector<uint8_t>& skin, int32_t width,
                                                   int32_t height) {
  std::vector<uint8_t> seen(skin.size(), 0);
  std::vector<std::vector<int32_t>> regions;
  std::vector<int32_t> stack;
  for (int32_t start = 0; start < width * height; ++start) {
    if (skin[size_t(start)] == 0 || seen[size_t(start)] != 0) continue;
    SkinRegion r{start % width, start % width, start / width, start / width, 0, 0, 0};
    seen[size_t(start)] = 1;
    stack.push_back(start);
    while (!stack.empty()) {
      const int32_t at = stack.back(), x = at % width, y = at / width;
      stack.pop_back();
      ++r.pixelCount;
      r.minX = std::min(r.minX, x), r.maxX = std::max(r.maxX, x);
      r.minY = std::min(r.minY, y), r.maxY = std::max(r.maxY, y);
      const bool inside[4] = {x > 0, x + 1 < width, y > 0, y + 1 < height};
      const int32_t next[4] = {at - 1, at + 1, at - width, at + width};
      for (int k = 0; k < 4; ++k) {
        if (!inside[k] || skin[size_t(next[k])] == 0 || seen[size_t(next[k])] != 0) continue;
        seen[size_t(next[k])] = 1;
        stack.push_back(next[k]);
      }
    }
    r.centerX = (r.minX + r.maxX) / 2;
    r.centerY = (r.minY + r.maxY) / 2;
    regions.push_back(Fields(r));
  }
  return regions;
}

// The walk's regions (box, count and centre) against the reference fill, on shapes where a fill
// by runs has many runs waiting at once, or many regions, or rows that share a word of the grid.
TEST(GrowRegion, AgreesWithAPlainFillOnEveryShape) {
  using Shape = bool (*)(int32_t x, int32_t y, int32_t width, int32_t height);
  // clang-format off
  struct Case { const char* name; int32_t width, height; Shape skin; long requests; };
  const Case cases[] = {
      {"full picture", 70, 50, [](int32_t, int32_t, int32_t, int32_t) { return true; }, 1},
      // 550 teeth wait at once: the in-place list, its own block and that block doubled.
      {"comb, teeth down", 1100, 12,
       [](int32_t x, int32_t y, int32_t, int32_t) { return y == 0 || x % 2 == 0; }, 3},
      {"comb, teeth up", 1100, 12,
       [](int32_t x, int32_t y, int32_t, int32_t h) { return y == h - 1 || x % 2 == 0; }, 3},
      // Full rows between rows of single pixels: about a quarter of the pixels start runs that
      // wait at once.
      {"comb of combs", 131, 41,
       [](int32_t x, int32_t y, int32_t, int32_t) { return y % 2 == 0 || x % 2 == 0; }, 4},
      // A square spiral, one pixel wide with one-pixel gaps: each ring cut open and bridged inward.
      {"spiral", 61, 61, [](int32_t x, int32_t y, int32_t w, int32_t h) {
         const int32_t d = std::min(std::min(x, y), std::min(w - 1 - x, h - 1 - y));
         return (d % 2 == 0) != (x == d && y == d + 1); }, 1},
      // Strips three pixels wide joined end to end, alternately at the bottom and the top.
      {"strips joined end to end", 403, 40, [](int32_t x, int32_t y, int32_t, int32_t h) {
         return x % 4 != 3 || y == ((x / 4) % 2 == 0 ? h - 1 : 0); }, 1},
      // Paths of two-pixel steps down and to the left: 4-connected only through one pixel a row.
      {"staircases", 83, 60,
       [](int32_t x, int32_t y, int32_t, int32_t) { return (x + y) % 4 < 2; }, 1},
      {"checkerboard", 70, 33,
       [](int32_t x, int32_t y, int32_t, int32_t) { return (x + y) % 2 == 0; }, 1},
      {"one column", 1, 300, [](int32_t, int32_t y, int32_t, int32_t) { return y % 7 != 3; }, 1},
      {"one row", 700, 1, [](int32_t x, int32_t, int32_t, int32_t) { return x % 97 != 5; }, 1},
      {"noise, 55 % skin", 301, 200, [](int32_t x, int32_t y, int32_t, int32_t) {
         const uint32_t h = (uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u) * 2654435761u;
         return (h >> 16) % 100 < 55; }, 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> skin(size_t(c.width) * size_t(c.height));
    Grid mask{};
    ASSERT_EQ(AllocateFlagGrid(c.width, c.height, mask.grid), 1);
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        if (c.skin(x, y, c.width, c.height)) {
          skin[size_t(y) * size_t(c.width) + size_t(x)] = 1;
          test::SetFlag(mask.grid, x, y);
        }
    std::vector<std::vector<int32_t>> walked;
    const SearchVisitor visitor{
        &walked, nullptr,
        [](void* context, const RegionSeen& seen) {
          static_cast<std::vector<std::vector<int32_t>>*>(context)->push_back(Fields(seen.region));
        },
        nullptr};
    FaceRect rect{};
    PlatformFailRequest(0);
    FindFaceRect(mask.view(), c.width, c.height, rect, &visitor);
    EXPECT_EQ(PlatformRequestCount(), c.requests) << "the visited map and the list's blocks";
    const std::vector<std::vector<int32_t>> want = ReferenceRegions(skin, c.width, c.height);
    ASSERT_EQ(walked.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(walked[i], want[i]) << "region " << i;
  }
}

// Constructs the record of a w x h region at (x, y); the centre follows the box unless given.
SkinRegion Region(int32_t x, int32_t y, int32_t w, int32_t h, int32_t count, int32_t centerX = -1) {
  const int32_t maxX = x + w - 1, maxY = y + h - 1;
  return {x, maxX, y, maxY, count, centerX >= 0 ? centerX : (x + maxX) / 2, (y + maxY) / 2};
}

// Each case names the first test the region fails (0: it passes), as explain reports it.
TEST(FaceCandidate, Boundaries) {
  // clang-format off
  struct Case { const char* name; SkinRegion region; int32_t width, height; int failure; };
  const Case cases[] = {
      {"30 x 30", Region(35, 35, 30, 30, 900), 100, 100, 0},
      {"29 wide", Region(35, 35, 29, 30, 870), 100, 100, 1},
      {"29 wide and 29 high", Region(35, 35, 29, 29, 841), 100, 100, 1},
      {"29 high", Region(35, 35, 30, 29, 870), 100, 100, 2},
      {"centreX is ignored", Region(35, 35, 30, 30, 900, 100000), 100, 100, 0},
      {"90 of 100 wide", Region(0, 10, 90, 60, 5400), 100, 100, 0},
      {"91 of 100 wide", Region(0, 10, 91, 60, 5460), 100, 100, 3},
      {"90 of 100 high", Region(10, 0, 60, 90, 5400), 100, 100, 0},
      {"91 of 100 high", Region(10, 0, 60, 91, 5460), 100, 100, 4},
      {"91 of 100 high, aspect too", Region(10, 0, 31, 91, 2821), 100, 100, 4},
      {"aspect 0.5", Region(10, 10, 30, 60, 1800), 100, 100, 0},
      {"aspect 2", Region(10, 10, 60, 30, 1800), 100, 100, 0},
      {"aspect below 0.5", Region(10, 10, 30, 61, 1830), 100, 100, 5},
      {"aspect above 2", Region(10, 10, 61, 30, 1830), 100, 100, 5},
      {"aspect above 2, too thin too", Region(10, 10, 61, 30, 500), 100, 100, 5},
      {"fill 479/1600", Region(10, 10, 40, 40, 479), 100, 100, 6},
      {"fill 480/1600", Region(10, 10, 40, 40, 480), 100, 100, 0},
      {"too thin and too low", Region(10, 60, 40, 40, 479), 100, 100, 6},
      // The ratio is formed in single precision: 29999999 becomes 3e7, exactly 0.3f.
      {"fill rounds up to 0.3f", Region(0, 0, 10000, 10000, 29999999), 20000, 20000, 0},
      {"fill just below 0.3f", Region(0, 0, 10000, 10000, 29999998), 20000, 20000, 6},
      {"centre row 70 of 100", Region(10, 55, 31, 31, 961), 100, 100, 0},
      {"centre row 71 of 100", Region(10, 56, 31, 31, 961), 100, 100, 7},
      // 0.7 x 90 is just below 63 in double precision.
      {"centre row 62 of 90", Region(10, 47, 31, 31, 961), 100, 90, 0},
      {"centre row 63 of 90", Region(10, 48, 31, 31, 961), 100, 90, 7},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int>(FirstFailedTest(c.region, c.width, c.height)), c.failure) << c.name;
  }
}

// clang-format off
struct SearchCase { const char* name; int32_t width, height; std::vector<Box> boxes; int want;
                    FaceRect rect; };

const FaceRect kUntouched{-7, -7, -7, -7};

std::vector<SearchCase> SearchCases() {
  return {
      {"no skin", 100, 100, {}, 0, kUntouched},
      {"only small regions", 100, 100, {{0, 0, 28, 40}, {50, 50, 80, 78}}, 0, kUntouched},
      {"all skin", 60, 50, {{0, 0, 59, 49}}, 0, kUntouched},
      {"centred square", 100, 100, {{40, 40, 69, 69}}, 1, {37, 28, 36, 27}},
      {"top-left clamp", 100, 100, {{0, 0, 29, 29}}, 1, {0, 0, 36, 27}},
      {"right clamp", 100, 100, {{70, 40, 99, 69}}, 1, {67, 28, 33, 27}},
      // x is raised to 0 before the width is cut to the picture.
      {"both sides clamp", 100, 100, {{0, 30, 89, 74}}, 1, {0, 12, 100, 40}},
      // The rectangle covers only the region's upper part: never past the bottom edge.
      {"on the bottom edge", 100, 100, {{20, 40, 79, 99}}, 1, {14, 16, 72, 54}},
      {"35 wide: 3 left, 4 right", 100, 100, {{40, 40, 74, 74}}, 1, {37, 26, 42, 31}},
      {"equal scores: left wins", 100, 100, {{10, 40, 39, 69}, {60, 40, 89, 69}}, 1,
       {7, 28, 36, 27}},
      // Same pixel count; the one scanned first has its centre lower and loses.
      {"equal size: higher wins", 100, 100, {{0, 5, 29, 64}, {35, 10, 94, 39}}, 1,
       {29, 0, 71, 27}},
      {"large low beats small high", 100, 100, {{10, 5, 39, 34}, {40, 40, 89, 89}}, 1,
       {35, 20, 60, 45}},
      // Scores 889.2 both in double precision, where the first would win; in single precision
      // the second scores 889.200012 against 889.199951 and wins.
      {"single-precision score", 100, 100, {{0, 4, 29, 41}, {40, 5, 69, 43}}, 1, {37, 0, 36, 35}},
  };
}
// clang-format on

void ExpectRect(int result, const FaceRect& got, const SearchCase& c) {
  EXPECT_EQ(result, c.want);
  EXPECT_EQ(std::vector<int32_t>({got.x, got.y, got.width, got.height}),
            std::vector<int32_t>({c.rect.x, c.rect.y, c.rect.width, c.rect.height}));
}

// Wherever the README lists the candidate tests, it lists them all, numbered, in the words made
// from the thresholds, so that a changed threshold cannot leave the README behind.
TEST(FaceCandidate, ReadmeListsTheTestsInTheirWords) {
  std::ifstream file(std::string(BMPFACE_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(file.is_open());
  std::string readme, word;
  while (file >> word) readme += word + " ";  // line breaks and indents read as one space
  std::string list;
  for (int test = 1; test <= static_cast<int>(kLastTest); ++test) {
    char words[96];
    const size_t length =
        CandidateTestText(static_cast<CandidateTest>(test), TestText::kWords, words, sizeof words);
    ASSERT_LT(length, sizeof words);
    list += (test > 1 ? ", " : "") + std::to_string(test) + " " + words;
  }
  size_t places = 0;
  for (size_t at = readme.find("1 narrower"); at != std::string::npos;
       at = readme.find("1 narrower", at + 1)) {
    ++places;
    EXPECT_EQ(readme.substr(at, list.size()), list);
  }
  EXPECT_EQ(places, 2u) << "the explain section and the library's steps";
}

TEST(FaceSearch, PicksAndWidensTheBestRegion) {
  for (const SearchCase& c : SearchCases()) {
    SCOPED_TRACE(c.name);
    Grid mask{test::MaskWithBoxes(c.width, c.height, c.boxes)};
    FaceRect rect = kUntouched;
    ExpectRect(FindFaceRect(mask.view(), c.width, c.height, rect), rect, c);

    test::Picture picture(c.width, c.height, 24);
    for (const Box& b : c.boxes) picture.Fill(b.x0, b.y0, b.x1, b.y1, kSkin);
    BMPImage image = test::LoadPicture(picture);
    rect = kUntouched;
    ExpectRect(DetectFace(image, rect), rect, c);
    FreeBMP(image);
  }
}

// The runner-up is the best candidate other than the chosen one, whether it came before the
// winner (an earlier leader) or after it; an equal score after the winner is a tie, not a lead.
TEST(FaceSearch, FactsKeepTheChoiceAndTheRunnerUp) {
  struct Seen {
    CandidateTest failed;
    float score;
    int leads;
  };
  struct Row {
    const char* name;
    std::vector<Seen> walk;
    bool found;
    float score, runnerUp;
    int32_t candidates;
    int32_t chosen;  // the winner's number in the walk, when found
  };
  const CandidateTest pass = CandidateTest::kNone, narrow = CandidateTest::kNarrow;
  const Row rows[] = {
      {"no candidate", {{narrow, 0, 0}}, false, 0, 0, 0, 0},
      {"alone", {{narrow, 0, 0}, {pass, 5, 1}}, true, 5, 0, 1, 1},
      {"earlier leader", {{pass, 3, 1}, {pass, 1, 0}, {pass, 7, 1}}, true, 7, 3, 3, 2},
      {"later and closer", {{pass, 3, 1}, {pass, 7, 1}, {pass, 6, 0}}, true, 7, 6, 3, 1},
      {"tie after the winner", {{pass, 7, 1}, {pass, 7, 0}}, true, 7, 7, 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SearchFacts facts{};
    int32_t pixels = 0;
    for (const Seen& seen : row.walk) {
      SkinRegion region{0, 9, 0, 9, ++pixels, 5, 5};
      NoteRegion(facts, RegionSeen{region, seen.failed, seen.score, seen.leads, pixels - 1});
    }
    EXPECT_EQ(facts.found, row.found);
    if (row.found) {
      EXPECT_EQ(facts.chosenNumber, row.chosen);
    }
    EXPECT_EQ(facts.score, row.score);
    EXPECT_EQ(facts.runnerUp, row.runnerUp);
    EXPECT_EQ(facts.candidates, row.candidates);
    EXPECT_EQ(facts.skinPixels, int64_t{pixels} * (pixels + 1) / 2);
  }
}

// Every memory request of a search, failed in turn: the mask, the visited map, and the list of
// waiting runs of the comb with its doubling. A candidate is already found when the comb fails,
// and still no face is reported.
TEST(FaceSearch, AnyFailedRequestGivesNoFace) {
  test::Picture picture(1250, 900, 24);
  picture.Fill(10, 0, 39, 29, kSkin);
  for (const Box& b : test::CombBoxes(20, 40, 1119, 600))
    picture.Fill(b.x0, b.y0, b.x1, b.y1, kSkin);
  BMPImage image = test::LoadPicture(picture);
  FaceRect rect = kUntouched;
  PlatformFailRequest(0);
  ASSERT_EQ(DetectFace(image, rect), 1);
  const long requests = PlatformRequestCount();
  ASSERT_EQ(requests, 4);
  for (long k = 1; k <= requests; ++k) {
    rect = kUntouched;
    PlatformFailRequest(k);
    EXPECT_EQ(DetectFace(image, rect), 0) << "request " << k;
    EXPECT_TRUE(rect.x == kUntouched.x && rect.width == kUntouched.width) << "request " << k;
  }
  PlatformFailRequest(0);
  FreeBMP(image);
}

// Request 0 fails nothing and tells how many there are: the list's first block and its doubling.
TEST(GrowRegion, ReportsStacksItCouldNotObtainOrDouble) {
  Grid mask{test::MaskWithBoxes(1100, 10, test::CombBoxes(0, 0, 1099, 9))};
  long requests = 0;
  for (long k = 0; k == 0 || k <= requests; ++k) {
    Grid visited{};
    ASSERT_EQ(AllocateFlagGrid(1100, 10, visited.grid), 1);
    SkinRegion r{};
    PlatformFailRequest(k);
    EXPECT_EQ(GrowRegion(mask.view(), visited.grid, 0, 0, r), k == 0 ? 1 : 0) << k;
    if (k == 0) requests = PlatformRequestCount();
  }
  EXPECT_EQ(requests, 2);
  PlatformFailRequest(0);
}

}  // namespace
}  // namespace bmpface
