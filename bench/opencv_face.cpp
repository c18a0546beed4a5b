// opencv_face: the face request written with OpenCV, as a whole process to time against bmpface.
//   opencv_face IN OUT             write the face region of IN as OUT and print "x y width height"
//   opencv_face --label-order IN...  print, per picture, whether the labeller numbered the skin
//                                    regions in the scan order of their first pixels
// Exit status as bmpface: 0 done, 1 input not loadable, 2 no face, 4 output not written,
// 64 wrong command line.
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "opencv_pipeline.h"

namespace {

int LabelOrder(int count, char** paths) {
  int status = 0;
  for (int i = 0; i < count; ++i) {
    const cv::Mat picture = cv::imread(paths[i], cv::IMREAD_UNCHANGED);
    if (picture.empty() || picture.depth() != CV_8U ||
        (picture.channels() != 3 && picture.channels() != 4)) {
      std::printf("%s: cannot load\n", paths[i]);
      status = 1;
      continue;
    }
    cv::Rect rect;
    bool scanOrder = false;
    bmpface_bench::CvDetectFace(picture, rect, &scanOrder);
    std::printf("%s: %s\n", paths[i], scanOrder ? "scan order" : "NOT scan order");
    if (!scanOrder) status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--label-order") == 0)
    return LabelOrder(argc - 2, argv + 2);
  if (argc != 3) {
    std::fprintf(stderr, "usage: opencv_face IN OUT | opencv_face --label-order IN...\n");
    return 64;
  }
  cv::Rect rect;
  const bmpface_bench::CvOutcome outcome = bmpface_bench::CvFaceRequest(argv[1], argv[2], &rect);
  if (outcome == bmpface_bench::kCvLoadFailed) {
    std::fprintf(stderr, "opencv_face: %s: cannot load\n", argv[1]);
  } else if (outcome == bmpface_bench::kCvNoFace) {
    std::printf("no face\n");
  } else {
    std::printf("%d %d %d %d\n", rect.x, rect.y, rect.width, rect.height);
    if (outcome == bmpface_bench::kCvSaveFailed) {
      std::fprintf(stderr, "opencv_face: %s: not written\n", argv[2]);
    }
  }
  return int(outcome);
}
