// Runs one whole request (load, detect, crop, save) on the fuzzer's bytes, taken as a BMP file.
#include <cstdint>
#include <cstdio>
#include <string>

#include "bmpface.h"

#ifdef _WIN32
#include <process.h>
#define BMPFACE_GETPID _getpid
#else
#include <unistd.h>
#define BMPFACE_GETPID getpid
#endif

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Per-process files, so that parallel fuzzing jobs do not share them.
struct Scratch {
  std::string input;
  std::string output;
  Scratch() {
    const std::string base = "/tmp/bmpface-fuzz-" + std::to_string(BMPFACE_GETPID());
    input = base + "-in.bmp";
    output = base + "-out.bmp";
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  std::FILE* f = std::fopen(scratch.input.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return 0;
  BMPFaceExtract(Wide(scratch.input).c_str(), Wide(scratch.output).c_str());
  std::remove(scratch.output.c_str());
  return 0;
}
