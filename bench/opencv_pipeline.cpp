#include "opencv_pipeline.h"

#include <cstdint>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace bmpface_bench {

namespace {

// The skin rule reduced to what decides it: R > 95, G > 40, B > 20, R - G > 15, R > B. The other
// terms follow: R - G > 15 gives R > G and |R - G| > 15, and with R > B the maximum is R and
// max - min >= R - G > 15.
template <int kChannels>
void SkinRows(const cv::Mat& picture, cv::Mat& mask, const cv::Range& rows) {
  for (int y = rows.start; y < rows.end; ++y) {
    const uint8_t* p = picture.ptr<uint8_t>(y);
    uint8_t* m = mask.ptr<uint8_t>(y);
    int x = 0;
#if CV_SIMD
    const int lanes = cv::v_uint8::nlanes;
    const cv::v_uint8 r95 = cv::vx_setall_u8(95), g40 = cv::vx_setall_u8(40),
                      b20 = cv::vx_setall_u8(20), d15 = cv::vx_setall_u8(15);
    for (; x + lanes <= picture.cols; x += lanes) {
      cv::v_uint8 b, g, r, a;
      if (kChannels == 3) {
        cv::v_load_deinterleave(p + x * 3, b, g, r);
      } else {
        cv::v_load_deinterleave(p + x * 4, b, g, r, a);
      }
      // R - G saturates at 0, so it is above 15 exactly when the true difference is.
      const cv::v_uint8 skin = (r > r95) & (g > g40) & (b > b20) & ((r - g) > d15) & (r > b);
      cv::v_store(m + x, skin);
    }
#endif
    for (; x < picture.cols; ++x) {
      const uint8_t* q = p + x * kChannels;
      const int b = q[0], g = q[1], r = q[2];
      m[x] = (r > 95 && g > 40 && b > 20 && r - g > 15 && r > b) ? 255 : 0;
    }
  }
}

// The candidate test of bmpface, with its mixture of single and double precision.
bool IsCandidate(int32_t minX, int32_t maxX, int32_t minY, int32_t maxY, int32_t pixelCount,
                 int32_t width, int32_t height) {
  const int32_t w = maxX - minX + 1;
  const int32_t h = maxY - minY + 1;
  if (w < 30 || h < 30) return false;
  if (double(w) > 0.9 * double(width)) return false;
  if (double(h) > 0.9 * double(height)) return false;
  const double aspect = double(float(w) / float(h));
  if (aspect < 0.5 || aspect > 2.0) return false;
  const double fill = double(float(pixelCount) / float(w * h));
  if (fill < 0.3) return false;
  const int32_t centerY = (minY + maxY) / 2;
  return !(double(centerY) > 0.7 * double(height));
}

// Column of the first pixel of `label` in row `top` (its topmost row).
int FirstColumn(const cv::Mat& labels, int label, int top) {
  const int32_t* row = labels.ptr<int32_t>(top);
  int x = 0;
  while (row[x] != label) ++x;
  return x;
}

bool LabelsInScanOrder(const cv::Mat& labels, int count) {
  std::vector<uint8_t> seen(size_t(count), 0);
  int next = 1;
  for (int y = 0; y < labels.rows; ++y) {
    const int32_t* row = labels.ptr<int32_t>(y);
    for (int x = 0; x < labels.cols; ++x) {
      const int32_t label = row[x];
      if (label == 0 || seen[size_t(label)]) continue;
      if (label != next) return false;
      seen[size_t(label)] = 1;
      ++next;
    }
  }
  return next == count;
}

}  // namespace

void CvSkinMask(const cv::Mat& picture, cv::Mat& mask) {
  CV_Assert(picture.depth() == CV_8U && (picture.channels() == 3 || picture.channels() == 4));
  mask.create(picture.size(), CV_8UC1);
  cv::parallel_for_(cv::Range(0, picture.rows), [&](const cv::Range& rows) {
    if (picture.channels() == 3) {
      SkinRows<3>(picture, mask, rows);
    } else {
      SkinRows<4>(picture, mask, rows);
    }
  });
}

bool CvDetectFace(const cv::Mat& picture, cv::Rect& rect, bool* labelsInScanOrder) {
  cv::Mat mask, labels, stats, centroids;
  CvSkinMask(picture, mask);
  const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
  if (labelsInScanOrder != nullptr) *labelsInScanOrder = LabelsInScanOrder(labels, count);

  const int32_t width = picture.cols, height = picture.rows;
  int best = 0;
  float bestScore = 0.0f;
  for (int label = 1; label < count; ++label) {
    const int32_t* s = stats.ptr<int32_t>(label);
    const int32_t minX = s[cv::CC_STAT_LEFT], minY = s[cv::CC_STAT_TOP];
    const int32_t maxX = minX + s[cv::CC_STAT_WIDTH] - 1, maxY = minY + s[cv::CC_STAT_HEIGHT] - 1;
    const int32_t pixelCount = s[cv::CC_STAT_AREA];
    if (!IsCandidate(minX, maxX, minY, maxY, pixelCount, width, height)) continue;
    const int32_t centerY = (minY + maxY) / 2;
    const float score = (1.0f - float(centerY) / float(height)) * float(pixelCount);
    bool better = score > bestScore;
    // On a tie the region whose first pixel comes first in the scan wins. The labeller is not
    // documented to number regions in that order, so ties are settled explicitly.
    if (!better && best != 0 && score == bestScore) {
      const int32_t bestTop = stats.at<int32_t>(best, cv::CC_STAT_TOP);
      better = minY < bestTop || (minY == bestTop && FirstColumn(labels, label, minY) <
                                                         FirstColumn(labels, best, minY));
    }
    if (better) {
      best = label;
      bestScore = score;
    }
  }
  if (best == 0) return false;

  const int32_t* s = stats.ptr<int32_t>(best);
  const double bw = double(s[cv::CC_STAT_WIDTH]), bh = double(s[cv::CC_STAT_HEIGHT]);
  int32_t x = s[cv::CC_STAT_LEFT] - int32_t(0.1 * bw);
  int32_t y = s[cv::CC_STAT_TOP] - int32_t(0.4 * bh);
  int32_t w = int32_t(1.2 * bw);
  int32_t h = int32_t(0.9 * bh);
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x + w > width) w = width - x;
  if (y + h > height) h = height - y;
  rect = cv::Rect(x, y, w, h);
  return true;
}

CvOutcome CvFaceRequest(const std::string& input, const std::string& output, cv::Rect* rect) {
  // Unchanged keeps a 32-bit picture's four channels, so the crop is written in its own format.
  const cv::Mat picture = cv::imread(input, cv::IMREAD_UNCHANGED);
  if (picture.empty() || picture.depth() != CV_8U ||
      (picture.channels() != 3 && picture.channels() != 4)) {
    return kCvLoadFailed;
  }
  cv::Rect face;
  if (!CvDetectFace(picture, face)) return kCvNoFace;
  if (rect != nullptr) *rect = face;
  return cv::imwrite(output, picture(face)) ? kCvOk : kCvSaveFailed;
}

}  // namespace bmpface_bench
