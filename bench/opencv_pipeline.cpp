#include "opencv_pipeline.h"

#include <cstdint>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "detect/face_search.h"
#include "detect/skin_rule.h"

namespace bmpface_bench {

namespace {

// The skin rule in the shortened form of bmpface's kernels (bmpface::SkinFlag), on OpenCV's
// vectors; the thresholds are the library's own.
template <int kChannels>
void SkinRows(const cv::Mat& picture, cv::Mat& mask, const cv::Range& rows) {
  for (int y = rows.start; y < rows.end; ++y) {
    const uint8_t* p = picture.ptr<uint8_t>(y);
    uint8_t* m = mask.ptr<uint8_t>(y);
    int x = 0;
#if CV_SIMD
    const int lanes = cv::v_uint8::nlanes;
    const cv::v_uint8 r95 = cv::vx_setall_u8(bmpface::kSkinRedAbove),
                      g40 = cv::vx_setall_u8(bmpface::kSkinGreenAbove),
                      b20 = cv::vx_setall_u8(bmpface::kSkinBlueAbove),
                      d15 = cv::vx_setall_u8(bmpface::kSkinRedGreenAbove);
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
      m[x] = bmpface::SkinFlag(q[0], q[1], q[2]) != 0 ? 255 : 0;
    }
  }
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
    const bmpface::SkinRegion region{
        minX, maxX, minY, maxY, s[cv::CC_STAT_AREA], (minX + maxX) / 2, (minY + maxY) / 2};
    // The decisions are the library's; the image work (mask, labelling) is OpenCV's.
    if (bmpface::FirstFailedTest(region, width, height) != bmpface::CandidateTest::kNone) continue;
    const float score = bmpface::FaceScore(region, height);
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
  const int32_t minX = s[cv::CC_STAT_LEFT], minY = s[cv::CC_STAT_TOP];
  const int32_t maxX = minX + s[cv::CC_STAT_WIDTH] - 1, maxY = minY + s[cv::CC_STAT_HEIGHT] - 1;
  const bmpface::FaceRect r = bmpface::FaceRectOf({minX, maxX, minY, maxY, 0, 0, 0}, width, height);
  rect = cv::Rect(r.x, r.y, r.width, r.height);
  return true;
}

namespace {

bool EndsWith(const std::string& text, const char* end) {
  const size_t n = std::char_traits<char>::length(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

}  // namespace

CvOutcome CvFaceRequest(const std::string& input, const std::string& output, cv::Rect* rect) {
  // A BMP unchanged keeps a 32-bit picture's four channels, so the crop is written in its own
  // format. Any other picture is read as a photo is (turned upright by its EXIF orientation, as
  // bmpface does), and a JPEG crop is written at bmpface's quality, 90.
  const bool bmp = EndsWith(input, ".bmp") || EndsWith(input, ".BMP");
  const cv::Mat picture = cv::imread(input, bmp ? cv::IMREAD_UNCHANGED : cv::IMREAD_COLOR);
  if (picture.empty() || picture.depth() != CV_8U ||
      (picture.channels() != 3 && picture.channels() != 4)) {
    return kCvLoadFailed;
  }
  cv::Rect face;
  if (!CvDetectFace(picture, face)) return kCvNoFace;
  if (rect != nullptr) *rect = face;
  std::vector<int> parameters;
  if (EndsWith(output, ".jpg") || EndsWith(output, ".jpeg")) {
    parameters = {cv::IMWRITE_JPEG_QUALITY, 90};
  }
  return cv::imwrite(output, picture(face), parameters) ? kCvOk : kCvSaveFailed;
}

}  // namespace bmpface_bench
