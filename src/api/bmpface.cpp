// The exported function: wide paths in, a status out, and the request's line on standard output.
#include "bmpface.h"

#include "api/outcomes.h"
#include "api/request.h"
#include "platform/platform.h"

using namespace bmpface;

namespace {

// The output path is converted only once there is a crop to write, so a request that fails
// earlier never converts it.
int SaveToWidePath(void* context, const char*, const BMPImage& crop) {
  char* narrowOutput = PlatformNarrowPath(static_cast<const wchar_t*>(context));
  const int saved = SaveBMP(narrowOutput, crop);
  PlatformFree(narrowOutput);
  return saved;
}

}  // namespace

extern "C" BMPFACE_API int32_t BMPFaceExtract(const wchar_t* inputPath, const wchar_t* outputPath) {
  char* narrowInput = PlatformNarrowPath(inputPath);
  RequestHooks hooks{};
  hooks.context = const_cast<wchar_t*>(outputPath);  // only read, by SaveToWidePath
  hooks.save = SaveToWidePath;
  const Outcome outcome = RunRequest(narrowInput, nullptr, &hooks, nullptr);
  PlatformFree(narrowInput);
  const OutcomeFacts& facts = FactsOf(outcome);
  if (facts.message != nullptr) PlatformPrint(facts.message);
  return facts.status;
}
