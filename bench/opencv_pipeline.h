// The face request written the way a C++ engineer would write it with OpenCV: imread, a vectorised
// skin mask, connected-components labelling with statistics, the same candidate test, score and
// rectangle as bmpface, crop, imwrite. The benchmarks compare bmpface with it, and a check makes
// sure that both find the same rectangle.
#ifndef BMPFACE_BENCH_OPENCV_PIPELINE_H_
#define BMPFACE_BENCH_OPENCV_PIPELINE_H_

#include <opencv2/core.hpp>
#include <string>

namespace bmpface_bench {

// Outcomes of CvFaceRequest, numbered like the bmpface command's exit statuses.
enum CvOutcome { kCvOk = 0, kCvLoadFailed = 1, kCvNoFace = 2, kCvSaveFailed = 4 };

// 255 where a pixel of an 8-bit BGR or BGRA picture is skin, 0 elsewhere.
void CvSkinMask(const cv::Mat& picture, cv::Mat& mask);

// The face rectangle of an 8-bit BGR or BGRA picture (row 0 at the top). False when no region
// passes the candidate test. `labelsInScanOrder`, when given, receives whether the labeller
// numbered the components in the scan order of their first pixels (checked over the labels image,
// which costs one more pass: only for verification).
bool CvDetectFace(const cv::Mat& picture, cv::Rect& rect, bool* labelsInScanOrder = nullptr);

// The whole request: read `input`, find the face, write its rectangle to `output` in the format of
// its name (a BMP, or a photo's JPEG at quality 90). A photo is turned upright as it is read.
// `rect` receives the rectangle when one was found.
CvOutcome CvFaceRequest(const std::string& input, const std::string& output, cv::Rect* rect);

}  // namespace bmpface_bench

#endif  // BMPFACE_BENCH_OPENCV_PIPELINE_H_
