#include "bmpface.h"

#include "api/messages.h"
#include "detect/face_search.h"
#include "image/bmp_image.h"
#include "image/crop.h"
#include "platform/platform.h"

using namespace bmpface;

namespace {

int32_t Fail(int32_t status, BMPImage& source) {
  PlatformPrint(StatusMessage(status));
  FreeBMP(source);
  return status;
}

}  // namespace

extern "C" BMPFACE_API int32_t BMPFaceExtract(const wchar_t* inputPath,
                                              const wchar_t* outputPath) {
  char* narrowInput = PlatformNarrowPath(inputPath);
  BMPImage source;
  const int loaded = LoadBMP(narrowInput, source);
  PlatformFree(narrowInput);
  if (loaded == 0) return BMPFACE_LOAD_FAILED;

  FaceRect rect;
  if (DetectFace(source, rect) == 0) return Fail(BMPFACE_NO_FACE, source);
  BMPImage output;
  if (ExtractFaceRegion(source, rect, output) == 0) return Fail(BMPFACE_EXTRACT_FAILED, source);

  // The input is read and closed before the output is opened, so both may name the same file.
  char* narrowOutput = PlatformNarrowPath(outputPath);
  const int32_t status = SaveBMP(narrowOutput, output) == 1 ? BMPFACE_OK : BMPFACE_SAVE_FAILED;
  PlatformFree(narrowOutput);
  if (status != BMPFACE_OK) PlatformPrint(StatusMessage(status));
  FreeBMP(source);
  FreeBMP(output);
  return status;
}
