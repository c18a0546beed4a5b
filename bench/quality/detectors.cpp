// detectors: the candidate face detectors on pictures, for the quality bench (quality.py) and for
// choosing the detector --verify loads. One line per picture:
//   PATH<TAB>MILLISECONDS<TAB>x,y,w,h;x,y,w,h...
//   detectors haar|lbp|dlib [--long N] PICTURE...
// With --long N each picture is resized so that its longer side is N first; the faces are given
// in the picture's own pixels. The time is that of the detection, the decoding left out.
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <string>
#include <vector>

namespace {

std::vector<cv::Rect> Cascade(cv::CascadeClassifier& cascade, const cv::Mat& bgr) {
  cv::Mat grey;
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  cv::equalizeHist(grey, grey);
  std::vector<cv::Rect> faces;
  cascade.detectMultiScale(grey, faces, 1.1, 3, 0, cv::Size(24, 24));
  return faces;
}

std::vector<cv::Rect> Hog(dlib::frontal_face_detector& detector, const cv::Mat& bgr) {
  dlib::cv_image<dlib::bgr_pixel> image(bgr);
  std::vector<cv::Rect> faces;
  for (const dlib::rectangle& r : detector(image)) {
    faces.emplace_back(r.left(), r.top(), r.width(), r.height());
  }
  return faces;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: detectors haar|lbp|dlib [--long N] PICTURE...\n");
    return 64;
  }
  const std::string kind = argv[1];
  int first = 2;
  int longSide = 0;  // scale each picture so that its longer side is this; 0: as it is
  if (argc > 3 && std::strcmp(argv[2], "--long") == 0) {
    longSide = std::atoi(argv[3]);
    first = 4;
  }
  cv::CascadeClassifier cascade;
  dlib::frontal_face_detector hog;
  if (kind == "haar") {
    cascade.load("/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml");
  } else if (kind == "lbp") {
    cascade.load("/usr/share/opencv4/lbpcascades/lbpcascade_frontalface_improved.xml");
  } else {
    hog = dlib::get_frontal_face_detector();
  }
  for (int i = first; i < argc; ++i) {
    cv::Mat picture = cv::imread(argv[i], cv::IMREAD_COLOR);
    if (picture.empty()) {
      std::printf("%s\t-1\t\n", argv[i]);
      continue;
    }
    const auto start = std::chrono::steady_clock::now();
    double scale = 1.0;
    cv::Mat seen = picture;
    const int longer = std::max(picture.cols, picture.rows);
    if (longSide > 0 && longer != longSide) {
      scale = static_cast<double>(longSide) / longer;
      cv::resize(picture, seen, cv::Size(), scale, scale, cv::INTER_AREA);
    }
    const std::vector<cv::Rect> faces = kind == "dlib" ? Hog(hog, seen) : Cascade(cascade, seen);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::string list;
    for (const cv::Rect& f : faces) {
      if (!list.empty()) list += ';';
      list += std::to_string(static_cast<int>(f.x / scale)) + "," +
              std::to_string(static_cast<int>(f.y / scale)) + "," +
              std::to_string(static_cast<int>(f.width / scale)) + "," +
              std::to_string(static_cast<int>(f.height / scale));
    }
    std::printf("%s\t%.1f\t%s\n", argv[i], ms, list.c_str());
  }
  return 0;
}
