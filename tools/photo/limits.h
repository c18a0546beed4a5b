// How much of the machine one picture may take: the bounds every reader checks before it decodes a
// pixel, in one place. A picture from a stranger is refused at the header when it declares more
// than the caller allows, so that no file of a few hundred bytes can claim gigabytes or minutes.
#ifndef BMPFACE_TOOLS_PHOTO_LIMITS_H_
#define BMPFACE_TOOLS_PHOTO_LIMITS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace bmpface::photo {

// Pixels a picture may have unless the caller says otherwise (--max-pixels): above today's 200 MP
// phones and 150 MP medium-format backs, below the 268 MP that would take a gigabyte of pixels.
constexpr uint64_t kDefaultMaxPixels = 200'000'000;

// The largest --max-pixels: every picture the 32-bit sizes allow, and more.
constexpr uint64_t kMaxPixelsOption = uint64_t{1} << 62;

// The longest --timeout, a day: a budget, not a schedule.
constexpr int kMaxTimeout = 86400;

// Scans a progressive JPEG may have. Encoders write about 10 (libjpeg's progressive script, 6 to
// 12 for mozjpeg); each scan makes the decoder pass over every coefficient again, so a legal file
// of hundreds of tiny scans takes minutes.
constexpr int kMaxJPEGScans = 100;

// Whether `width` x `height` is within `maxPixels` (0: no limit).
inline bool WithinPixelLimit(uint64_t width, uint64_t height, uint64_t maxPixels) {
  return maxPixels == 0 || (width != 0 && height <= maxPixels / width);
}

// The refusal of a picture of `width` x `height` over `maxPixels`: names the limit and the option.
std::string PixelLimitRefusal(uint64_t width, uint64_t height, uint64_t maxPixels);

// Counts the scans of a JPEG stream fed in pieces of any size, without decoding: the segments are
// skipped by their lengths and the entropy-coded data searched for the next marker.
class JPEGScanCounter {
 public:
  // Takes the next `size` bytes of the file.
  void Feed(const uint8_t* bytes, size_t size);
  int scans() const { return scans_; }
  // The end of the picture was seen: nothing after it is data.
  bool ended() const { return state_ == State::kEnded; }

 private:
  enum class State {
    kStart,
    kMarkerFF,
    kMarkerCode,
    kLength1,
    kLength2,
    kSkip,
    kEntropy,
    kEntropyFF,
    kEnded
  };
  State state_ = State::kStart;
  uint8_t code_ = 0;
  uint32_t length_ = 0;
  uint64_t skip_ = 0;
  int scans_ = 0;
  size_t seen_ = 0;  // bytes of the start-of-image mark seen
};

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_LIMITS_H_
