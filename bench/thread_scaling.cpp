// Thread scaling of the pixel calls: the same number of BMPFaceDetectPixels calls on a 12 MP
// picture (the sample scaled up, 4000 x 3000, blue first) from one thread and from two, best of
// several rounds; prints the ratio of the times and the load average, since two threads scale
// only on a machine whose two cores are otherwise idle: for the best round of each, it prints
// what other processes used of the cores meanwhile (/proc/stat's busy time less this process's).
// Two kinds of call: detection on the caller's pixels (a blue-first array from Python), and
// detection on a copy the call makes first into a block of the library's memory layer, as the
// Python binding does for a red-first array (and the photo layer for every decoded photo): a block
// of 36 MB obtained and released per call.
// On a machine others share, run it with real-time priority and --hold, so that no other process
// runs while it measures: `chrt -f 50 thread_scaling --hold SAMPLE.bmp`. --hold keeps the second
// core busy during the one-thread rounds with a thread that only waits on a flag (no memory
// traffic), so that the one-thread figure is not of a machine whose other core runs something
// else.
//   thread_scaling [--hold] SAMPLE.bmp [CALLS [ROUNDS]]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// Seconds the machine's cores have been busy, all processes together.
double BusySeconds() {
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, wait = 0, irq = 0, soft = 0,
                     steal = 0;
  if (std::FILE* f = std::fopen("/proc/stat", "r")) {
    if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle,
                    &wait, &irq, &soft, &steal) != 8) {
      user = nice = system = irq = soft = steal = 0;
    }
    std::fclose(f);
  }
  return static_cast<double>(user + nice + system + irq + soft + steal) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OwnSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Timing {
  double seconds;
  double others;  // cores other processes kept busy meanwhile, on average
};

// `calls` detections split over `threads` threads; with `hold`, one more thread waits on a flag
// meanwhile on each core the calls leave free.
Timing Time(const std::vector<uint8_t>& pixels, int calls, int threads, bool hold, bool copy) {
  std::atomic<bool> done{false};
  std::vector<std::thread> holders;
  for (int t = threads; hold && t < 2; ++t) {
    holders.emplace_back([&done] {
      while (!done.load(std::memory_order_relaxed)) {
      }
    });
  }
  const double busy = BusySeconds(), own = OwnSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&pixels, calls, threads, t, copy] {
      for (int i = t; i < calls; i += threads) {
        uint8_t* block = nullptr;
        if (copy) {
          block = static_cast<uint8_t*>(bmpface::PlatformMalloc(pixels.size()));
          if (block == nullptr) std::exit(1);
          std::copy(pixels.begin(), pixels.end(), block);
        }
        BMPFaceRect rect;
        const int32_t status = BMPFaceDetectPixels(copy ? block : pixels.data(), kWidth, kHeight,
                                                   kWidth * 3, 3, &rect);
        bmpface::PlatformFree(block);
        if (status != BMPFACE_OK) {
          std::fprintf(stderr, "no face in the scaled sample\n");
          std::exit(1);
        }
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double others = (BusySeconds() - busy) - (OwnSeconds() - own);
  done = true;
  for (std::thread& thread : holders) thread.join();
  return {seconds, others > 0 ? others / seconds : 0};
}

}  // namespace

int main(int argc, char** argv) {
  const bool hold = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
  if (hold) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: thread_scaling [--hold] SAMPLE.bmp [CALLS [ROUNDS]]\n");
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
      const uint8_t* from = bmpface::PixelAt(
          sample, static_cast<int32_t>(static_cast<int64_t>(x) * sample.width / kWidth),
          static_cast<int32_t>(static_cast<int64_t>(y) * sample.height / kHeight));
      std::copy(from, from + 3, &pixels[(static_cast<size_t>(y) * kWidth + x) * 3]);
    }
  }
  bmpface::FreeBMP(sample);
  const double loadBefore = LoadAverage();
  for (const bool copy : {false, true}) {
    Timing best[3] = {{1e9, 0}, {1e9, 0}, {1e9, 0}};
    for (int r = 0; r < rounds; ++r) {
      for (int threads = 1; threads <= 2; ++threads) {
        const Timing t = Time(pixels, calls, threads, hold, copy);
        if (t.seconds < best[threads].seconds) best[threads] = t;
      }
    }
    std::printf(
        "12 MP %s, %d calls, best of %d rounds: 1 thread %.2f ms a call, 2 threads "
        "%.2f ms a call: %.2f x (other processes meanwhile: %.2f and %.2f cores)\n",
        copy ? "copy and detect" : "detect", calls, rounds, best[1].seconds / calls * 1e3,
        best[2].seconds / calls * 1e3, best[1].seconds / best[2].seconds, best[1].others,
        best[2].others);
  }
  std::printf("load average %.2f before, %.2f after\n", loadBefore, LoadAverage());
  return 0;
}
