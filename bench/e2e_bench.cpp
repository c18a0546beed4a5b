// Whole requests on real picture files, side by side in one run:
//   floor/PICTURE   read the file into fresh memory and touch every byte: what any request pays
//   floor-huge/PICTURE  the same with that memory on transparent huge pages, as bmpface asks for
//   bmpface/PICTURE BMPFaceExtract from the file to an output file, as the command does
//   opencv/PICTURE  the same request written with OpenCV (when the bench was built with it)
// Pictures: the arguments left after Google Benchmark's own flags, or else the ':'-separated list
// in BMPFACE_E2E_PICTURES. bench/make_pictures.py makes the usual set.
// Every request starts on memory fresh from the system, as in a new process, and writes a new
// output file: between iterations (outside the timing) the allocator hands its free pages back,
// otherwise later iterations would reuse pages already faulted in and hide a cost that every real
// request pays, and the last output is removed.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bmpface.h"
#include "read_floor.h"
#if BMPFACE_BENCH_OPENCV
#include "opencv_pipeline.h"
#endif

namespace {

struct Picture {
  std::string path;
  std::string name;  // the file name, for the benchmark's name
  int64_t bytes = 0;
  int64_t pixels = 0;
};

// UTF-8 bytes to the library's wide path (UTF-32 on Linux). Empty when not UTF-8.
std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80         ? 0
                      : (lead >> 5) == 6  ? 1
                      : (lead >> 4) == 14 ? 2
                      : (lead >> 3) == 30 ? 3
                                          : -1;
    if (extra < 0 || text.size() - i <= size_t(extra)) return {};
    uint32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (int k = 1; k <= extra; ++k)
      c = c << 6 | (static_cast<unsigned char>(text[i + size_t(k)]) & 0x3Fu);
    wide.push_back(static_cast<wchar_t>(c));
    i += size_t(extra) + 1;
  }
  return wide;
}

// Width x height from the BMP header, for the per-pixel counter; 0 when unreadable.
int64_t PixelCount(const std::string& path) {
  unsigned char header[26] = {};
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  const size_t got = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  if (got != sizeof header) return 0;
  auto int32At = [&](int at) {
    return int32_t(uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 |
                   uint32_t(header[at + 2]) << 16 | uint32_t(header[at + 3]) << 24);
  };
  const int64_t height = int32At(22);
  return int64_t(int32At(18)) * (height < 0 ? -height : height);
}

void Report(benchmark::State& state, const Picture& picture) {
  state.SetBytesProcessed(int64_t(state.iterations()) * picture.bytes);
  // Time per pixel, shown in seconds (so 1.0n is 1 ns per pixel).
  state.counters["per_pixel"] =
      benchmark::Counter(double(picture.pixels), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

// Outside the timing, removes the request's output and gives the allocator's free memory back to
// the system: each request writes a new file, as a real crop (and each hyperfine run of e2e.sh)
// does; writing over the last one would add the truncation of the old file to every request.
void StartAfresh(benchmark::State& state, const std::string& output) {
  state.PauseTiming();
  std::remove(output.c_str());
  ::malloc_trim(0);
  state.ResumeTiming();
}

void Floor(benchmark::State& state, const Picture& picture, bool hugePages) {
  for (auto _ : state) {
    uint64_t sum = 0;
    if (bmpface_bench::ReadAndTouch(picture.path.c_str(), sum, hugePages) < 0) {
      state.SkipWithError("cannot read the picture");
      break;
    }
    benchmark::DoNotOptimize(sum);
  }
  Report(state, picture);
}

void Ours(benchmark::State& state, const Picture& picture, const std::string& output) {
  const std::wstring input = Wide(picture.path), out = Wide(output);
  for (auto _ : state) {
    const int32_t status = BMPFaceExtract(input.c_str(), out.c_str());
    if (status != BMPFACE_OK) {
      state.SkipWithError(status == BMPFACE_NO_FACE ? "no face found" : "request failed");
      break;
    }
    StartAfresh(state, output);
  }
  Report(state, picture);
}

#if BMPFACE_BENCH_OPENCV
void OpenCv(benchmark::State& state, const Picture& picture, const std::string& output) {
  for (auto _ : state) {
    const bmpface_bench::CvOutcome outcome =
        bmpface_bench::CvFaceRequest(picture.path, output, nullptr);
    if (outcome != bmpface_bench::kCvOk) {
      state.SkipWithError(outcome == bmpface_bench::kCvNoFace ? "no face found" : "request failed");
      break;
    }
    StartAfresh(state, output);
  }
  Report(state, picture);
}
#endif

std::vector<std::string> PicturePaths(int argc, char** argv) {
  std::vector<std::string> paths(argv + 1, argv + argc);
  if (!paths.empty()) return paths;
  if (const char* list = std::getenv("BMPFACE_E2E_PICTURES")) {
    std::string rest = list;
    for (size_t colon; (colon = rest.find(':')) != std::string::npos; rest.erase(0, colon + 1)) {
      if (colon > 0) paths.push_back(rest.substr(0, colon));
    }
    if (!rest.empty()) paths.push_back(rest);
  }
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<Picture> pictures;
  for (const std::string& path : PicturePaths(argc, argv)) {
    Picture picture;
    picture.path = path;
    picture.name = path.substr(path.find_last_of('/') + 1);
    uint64_t sum = 0;
    picture.bytes = bmpface_bench::ReadAndTouch(path.c_str(), sum);
    picture.pixels = PixelCount(path);
    if (picture.bytes < 0 || Wide(path).empty()) {
      std::fprintf(stderr, "e2e_bench: %s: cannot read (or the path is not UTF-8)\n", path.c_str());
      return 1;
    }
    pictures.push_back(picture);
  }
  if (pictures.empty()) {
    std::fprintf(stderr,
                 "usage: bmpface_e2e_bench [benchmark flags] PICTURE.bmp...\n"
                 "   or: BMPFACE_E2E_PICTURES=a.bmp:b.bmp bmpface_e2e_bench [benchmark flags]\n");
    return 64;
  }

  // Outputs go to a private folder, removed at the end.
  char folder[] = "/tmp/bmpface-e2e-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    std::perror("e2e_bench: mkdtemp");
    return 1;
  }
  const std::string ours = std::string(folder) + "/bmpface.bmp";
  const std::string theirs = std::string(folder) + "/opencv.bmp";

  for (const Picture& picture : pictures) {
    auto setup = [](benchmark::internal::Benchmark* b) {
      b->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    setup(benchmark::RegisterBenchmark(("floor/" + picture.name).c_str(), Floor, picture, false));
    setup(
        benchmark::RegisterBenchmark(("floor-huge/" + picture.name).c_str(), Floor, picture, true));
    setup(benchmark::RegisterBenchmark(("bmpface/" + picture.name).c_str(), Ours, picture, ours));
#if BMPFACE_BENCH_OPENCV
    setup(
        benchmark::RegisterBenchmark(("opencv/" + picture.name).c_str(), OpenCv, picture, theirs));
#endif
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  ::rmdir(folder);
  return 0;
}
