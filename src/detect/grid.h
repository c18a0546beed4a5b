// The per-pixel grids of a search: the skin mask and the visited map.
#ifndef BMPFACE_DETECT_GRID_H_
#define BMPFACE_DETECT_GRID_H_

#include <cstddef>
#include <cstdint>

namespace bmpface {

// One bit per pixel, the rows one after another with no gap between them: flag (x, y) is bit
// n = y * width + x of the grid, bit n % 64 of word n / 64. A grid takes an eighth of a byte per
// pixel whatever its shape (a picture one pixel wide needs no word per row), and a scan in
// picture order is a scan of the words in memory order, 64 flags at a time.
struct FlagGridView;

// A grid that owns its words, zero-filled when obtained. Used for the skin mask and the visited
// map; released with FreeFlagGrid.
struct FlagGrid {
  uint64_t* words;  // null when the grid holds no memory
  int32_t width;
  int32_t height;

  operator FlagGridView() const;  // every reader of a grid takes its view
};

// The same grid, for code that only reads it: flag (x, y) is At(x, y), or view[y][x].
struct FlagGridView {
  const uint64_t* words;
  int32_t width;
  int32_t height;

  // Flag x of one row.
  struct Row {
    const uint64_t* words;
    size_t first;  // the bit of flag 0
    int operator[](int32_t x) const {
      const size_t n = first + static_cast<size_t>(x);
      return static_cast<int>(words[n / 64] >> (n % 64) & 1);
    }
  };

  // x and y must lie inside the grid.
  Row operator[](int32_t y) const {
    return Row{words, static_cast<size_t>(y) * static_cast<size_t>(width)};
  }
  int At(int32_t x, int32_t y) const { return (*this)[y][x]; }
};

inline FlagGrid::operator FlagGridView() const { return FlagGridView{words, width, height}; }

using SkinMask = FlagGrid;
using SkinMaskView = FlagGridView;

// The most flags a grid may hold, so that a flag's number fits 32 bits (a picture's pixel buffer
// holds at most 2^31 bytes, so every picture fits).
constexpr uint64_t kMaxGridFlags = INT32_MAX;

// Obtains a zero-filled width x height grid in one memory request. Returns 1, or 0 with `grid`
// holding no memory when memory runs out or the grid would hold more than kMaxGridFlags flags.
// A width or height below 1 gives an empty grid (still one request).
int AllocateFlagGrid(int32_t width, int32_t height, FlagGrid& grid);

// Releases the grid's words and nulls them; harmless on a grid without any.
void FreeFlagGrid(FlagGrid& grid);

// Word-level reading of a grid's flags, for the search and the grower: positions are flag numbers
// (y * width + x).
namespace flags {

// The number of the lowest set bit of a word that is not 0.
inline int LowestSetBit(uint64_t word) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_ctzll(word);
#else
  int n = 0;
  for (; (word & 1) == 0; word >>= 1) ++n;
  return n;
#endif
}

// The number of the highest set bit of a word that is not 0.
inline int HighestSetBit(uint64_t word) {
#if defined(__GNUC__) || defined(__clang__)
  return 63 - __builtin_clzll(word);
#else
  int n = 63;
  for (; (word >> 63) == 0; word <<= 1) --n;
  return n;
#endif
}

// Bits `from % 64` to 63 of a word.
inline uint64_t FromBit(size_t from) { return ~uint64_t{0} << (from % 64); }
// Bits 0 to `at % 64` of a word.
inline uint64_t ThroughBit(size_t at) { return ~uint64_t{0} >> (63 - at % 64); }

// The first position in [from, to) whose bit is set in word(k), the word that holds positions
// 64k to 64k + 63; `to` when there is none. Reads no word past the one that holds to - 1.
template <typename Word>
size_t FirstSet(const Word& word, size_t from, size_t to) {
  if (from >= to) return to;
  size_t k = from / 64;
  const size_t last = (to - 1) / 64;
  uint64_t bits = word(k) & FromBit(from);
  while (bits == 0) {
    if (++k > last) return to;
    bits = word(k);
  }
  const size_t at = k * 64 + static_cast<size_t>(LowestSetBit(bits));
  return at < to ? at : to;
}

// The first position p in [from, at] such that every bit from p to `at` is set in word(k):
// where a run of set bits that holds `at` begins, not before `from`.
template <typename Word>
size_t RunStart(const Word& word, size_t at, size_t from) {
  size_t k = at / 64;
  const size_t first = from / 64;
  uint64_t clear = ~word(k) & ThroughBit(at);
  while (clear == 0) {
    if (k == first) return from;
    clear = ~word(--k);
  }
  const size_t start = k * 64 + static_cast<size_t>(HighestSetBit(clear)) + 1;
  return start > from ? start : from;
}

// Sets bits [from, to) of a grid's words; from < to.
inline void SetRange(uint64_t* words, size_t from, size_t to) {
  size_t k = from / 64;
  const size_t last = (to - 1) / 64;
  if (k == last) {
    words[k] |= FromBit(from) & ThroughBit(to - 1);
    return;
  }
  words[k] |= FromBit(from);
  while (++k < last) words[k] = ~uint64_t{0};
  words[last] |= ThroughBit(to - 1);
}

}  // namespace flags

}  // namespace bmpface

#endif  // BMPFACE_DETECT_GRID_H_
