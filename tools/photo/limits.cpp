#include "photo/limits.h"

#include <cstring>

namespace bmpface::photo {

std::string PixelLimitRefusal(uint64_t width, uint64_t height, uint64_t maxPixels) {
  return "picture of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is over the limit of " + std::to_string(maxPixels) +
         " pixels (--max-pixels N raises it, 0 for none)";
}

// Markers with no length after them: the start and end of the picture, the restart marks and TEM.
namespace {
bool Standalone(uint8_t code) {
  return code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7);
}
}  // namespace

void JPEGScanCounter::Feed(const uint8_t* bytes, size_t size) {
  size_t i = 0;
  while (i < size && state_ != State::kEnded) {
    switch (state_) {
      case State::kStart:  // FF D8
        if (bytes[i++] != (seen_ == 0 ? 0xFF : 0xD8)) {
          state_ = State::kEnded;  // not a JPEG: nothing to count
          break;
        }
        if (++seen_ == 2) state_ = State::kMarkerFF;
        break;
      case State::kMarkerFF:
        if (bytes[i++] == 0xFF) state_ = State::kMarkerCode;
        break;  // bytes between segments are not data; the decoder skips them too
      case State::kMarkerCode: {
        const uint8_t code = bytes[i++];
        if (code == 0xFF) break;  // fill
        if (code == 0xD9) {
          state_ = State::kEnded;
        } else if (Standalone(code)) {
          state_ = State::kMarkerFF;
        } else {
          code_ = code;
          state_ = State::kLength1;
        }
        break;
      }
      case State::kLength1:
        length_ = uint32_t{bytes[i++]} << 8;
        state_ = State::kLength2;
        break;
      case State::kLength2:
        length_ |= bytes[i++];
        skip_ = length_ >= 2 ? length_ - 2 : 0;
        if (code_ == 0xDA) ++scans_;
        state_ = State::kSkip;
        break;
      case State::kSkip: {
        const size_t n = skip_ < size - i ? static_cast<size_t>(skip_) : size - i;
        i += n;
        skip_ -= n;
        if (skip_ == 0) state_ = code_ == 0xDA ? State::kEntropy : State::kMarkerFF;
        break;
      }
      case State::kEntropy: {
        const void* ff = std::memchr(bytes + i, 0xFF, size - i);
        if (ff == nullptr) {
          i = size;
        } else {
          i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - bytes) + 1;
          state_ = State::kEntropyFF;
        }
        break;
      }
      case State::kEntropyFF: {
        const uint8_t code = bytes[i];
        if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {  // stuffed byte or restart mark
          ++i;
          state_ = State::kEntropy;
        } else if (code == 0xFF) {
          ++i;  // fill before a marker
        } else {
          state_ = State::kMarkerCode;  // the marker that ends the scan's data
        }
        break;
      }
      case State::kEnded:
        break;
    }
  }
}

}  // namespace bmpface::photo
