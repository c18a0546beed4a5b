// Thread scaling of the pixel calls: the same number of BMPFaceDetectPixels calls on a 12 MP
// picture (the sample scaled up, 4000 x 3000, blue first) from one thread and from two, best of
// several rounds; prints the ratio of the times and the load average, since two threads scale
// only on a machine whose two cores are otherwise idle. Each call first copies the picture into
// a block of the library's memory layer, as the Python binding does for a red-first array (and
// the photo layer for every decoded photo): a block of 36 MB obtained and released per call.
//   thread_scaling SAMPLE.bmp [CALLS [ROUNDS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bmpface_pixels.h"
#include "image/bmp_image.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;

double LoadAverage() {
  double load = -1;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

// Seconds for `calls` detections split over `threads` threads.
double Time(const std::vector<uint8_t>& pixels, int calls, int threads) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&pixels, calls, threads, t] {
      for (int i = t; i < calls; i += threads) {
        auto* copy = static_cast<uint8_t*>(bmpface::PlatformMalloc(pixels.size()));
        if (copy == nullptr) std::exit(1);
        std::copy(pixels.begin(), pixels.end(), copy);
        BMPFaceRect rect;
        const int32_t status = BMPFaceDetectPixels(copy, kWidth, kHeight, kWidth * 3, 3, &rect);
        bmpface::PlatformFree(copy);
        if (status != BMPFACE_OK) {
          std::fprintf(stderr, "no face in the scaled sample\n");
          std::exit(1);
        }
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: thread_scaling SAMPLE.bmp [CALLS [ROUNDS]]\n");
    return 64;
  }
  const int calls = argc > 2 ? std::atoi(argv[2]) : 16;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  bmpface::BMPImage sample{};
  if (bmpface::LoadBMP(argv[1], sample) == 0) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  // Nearest-neighbour scaling: every pixel of the result is one of the sample's.
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const uint8_t* from = bmpface::PixelAt(sample, static_cast<int32_t>(
          static_cast<int64_t>(x) * sample.width / kWidth), static_cast<int32_t>(
          static_cast<int64_t>(y) * sample.height / kHeight));
      std::copy(from, from + 3, &pixels[(static_cast<size_t>(y) * kWidth + x) * 3]);
    }
  }
  bmpface::FreeBMP(sample);
  const double loadBefore = LoadAverage();
  double best[3] = {1e9, 1e9, 1e9};
  for (int r = 0; r < rounds; ++r) {
    for (int threads = 1; threads <= 2; ++threads) {
      best[threads] = std::min(best[threads], Time(pixels, calls, threads));
    }
  }
  std::printf("12 MP copy and detect, %d calls, best of %d rounds: 1 thread %.2f ms a call, 2 threads "
              "%.2f ms a call: %.2f x (load average %.2f before, %.2f after)\n",
              calls, rounds, best[1] / calls * 1e3, best[2] / calls * 1e3, best[1] / best[2],
              loadBefore, LoadAverage());
  return 0;
}
