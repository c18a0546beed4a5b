// Runs one whole request (load, detect, crop, save) on the fuzzer's bytes, taken as a BMP file
// held in memory. The crop is written to the null device, so no file is made.
#include <cstddef>
#include <cstdint>

#include "api/request.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
};

int LoadFromInput(void* context, const char*, bmpface::BMPImage& image, const bmpface::RowSink*) {
  const Input* input = static_cast<const Input*>(context);
  return bmpface::LoadBMPFromMemory(input->data, input->size, image);
}

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input{data, size};
  bmpface::RequestHooks hooks{};
  hooks.context = &input;
  hooks.load = LoadFromInput;
  bmpface::RunRequest(nullptr, kNullDevice, &hooks, nullptr);
  return 0;
}
