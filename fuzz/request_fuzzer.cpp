// Runs one whole request (load while masking, detect, crop, save) on the fuzzer's bytes, taken as
// a BMP file held in memory. No file is made.
#include <cstddef>
#include <cstdint>

#include "api/request.h"
#include "platform/platform.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
};

// Passes the request's sink on, as LoadBMP does for a file: the skin mask is built while the rows
// are read, the path every file request takes.
int LoadFromInput(void* context, const char*, bmpface::BMPImage& image,
                  const bmpface::RowSink* sink) {
  const Input* input = static_cast<const Input*>(context);
  return bmpface::LoadBMPFromMemory(input->data, input->size, image, sink);
}

// The crop is written into memory, through the same writer as a file, and dropped.
int SaveToMemory(void*, const char*, const bmpface::BMPImage& crop) {
  const size_t size = bmpface::BMPFileSize(crop);
  auto* bytes = static_cast<uint8_t*>(bmpface::PlatformMalloc(size));
  const int written = bytes != nullptr ? bmpface::WriteBMPToMemory(crop, bytes, size) : 0;
  bmpface::PlatformFree(bytes);
  return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input{data, size};
  bmpface::RequestHooks hooks{};
  hooks.context = &input;
  hooks.load = LoadFromInput;
  hooks.save = SaveToMemory;
  bmpface::RunRequest(nullptr, nullptr, &hooks, nullptr);
  return 0;
}
