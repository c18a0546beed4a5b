// bmpface: the command-line host of the library.
//   bmpface INPUT OUTPUT          crop the face of INPUT into OUTPUT
//   bmpface --detect INPUT...     print each picture's face rectangle
//   bmpface batch ...             crop many pictures, several at once (batch.cpp)
//   bmpface explain INPUT OUT     draw how the face was chosen (explain.cpp)
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bmpface.h"
#include "cli_common.h"
#include "detect/face_search.h"
#include "image/bmp_image.h"

namespace {

using bmpface::cli::kExitExtract;
using bmpface::cli::kExitLoad;
using bmpface::cli::kExitNoFace;
using bmpface::cli::kExitOk;
using bmpface::cli::kExitSave;
using bmpface::cli::kExitUsage;

int ExitFor(int32_t status) {
  switch (status) {
    case BMPFACE_OK:
      return kExitOk;
    case BMPFACE_NO_FACE:
      return kExitNoFace;
    case BMPFACE_EXTRACT_FAILED:
      return kExitExtract;
    case BMPFACE_SAVE_FAILED:
      return kExitSave;
    default:
      return kExitLoad;
  }
}

// The library takes wide paths; command-line arguments arrive as UTF-8 bytes. A byte sequence
// that is not UTF-8 has no wide form: `ok` is then false.
std::wstring WidePath(const std::string& path, bool& ok) {
  std::wstring wide;
  ok = true;
  for (size_t i = 0; i < path.size();) {
    const auto lead = static_cast<unsigned char>(path[i]);
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2
                                      : (lead >> 3) == 30 ? 3 : -1;
    if (extra < 0 || path.size() - i <= static_cast<size_t>(extra)) {
      ok = false;
      return wide;
    }
    uint32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(path[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) {
        ok = false;
        return wide;
      }
      c = c << 6 | (next & 0x3Fu);
    }
    static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      ok = false;
      return wide;
    }
#if WCHAR_MAX <= 0xFFFF
    if (c >= 0x10000) {  // UTF-16: a surrogate pair
      wide.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      c = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
#endif
    wide.push_back(static_cast<wchar_t>(c));
    i += static_cast<size_t>(extra) + 1;
  }
  return wide;
}

int Crop(const std::string& input, const std::string& output) {
  bool inputOk = false;
  bool outputOk = false;
  const std::wstring wideInput = WidePath(input, inputOk);
  const std::wstring wideOutput = WidePath(output, outputOk);
  const int32_t status = BMPFaceExtract(inputOk ? wideInput.c_str() : nullptr,
                                        outputOk ? wideOutput.c_str() : nullptr);
  // The library is silent when the input cannot be loaded; say why here, on standard error.
  if (status == BMPFACE_LOAD_FAILED) {
    std::fprintf(stderr, "bmpface: %s: missing, unreadable, or not a 24- or 32-bit BMP picture\n",
                 input.c_str());
  } else if (status == BMPFACE_OK) {
    std::fprintf(stderr, "bmpface: face written to %s\n", output.c_str());
  }
  return ExitFor(status);
}

// Prints the face rectangle of each picture. Exit status: the worst outcome among them.
int Detect(const std::vector<std::string>& inputs, bool json) {
  int worst = kExitOk;
  for (const std::string& input : inputs) {
    bmpface::BMPImage image;
    bmpface::FaceRect rect{};
    int outcome = kExitLoad;
    if (bmpface::LoadBMP(input.c_str(), image) == 1) {
      outcome = bmpface::DetectFace(image, rect) == 1 ? kExitOk : kExitNoFace;
      bmpface::FreeBMP(image);
    }
    if (outcome == kExitLoad || (outcome == kExitNoFace && worst == kExitOk)) worst = outcome;
    if (json) {
      std::printf("{\"path\":%s,\"status\":\"%s\"", bmpface::cli::JsonString(input).c_str(),
                  outcome == kExitOk ? "face" : outcome == kExitNoFace ? "no_face" : "load_failed");
      if (outcome == kExitOk) {
        std::printf(",\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d", rect.x, rect.y, rect.width,
                    rect.height);
      }
      std::printf("}\n");
    } else if (outcome == kExitOk) {
      std::printf("%s: %d %d %d %d\n", input.c_str(), rect.x, rect.y, rect.width, rect.height);
    } else {
      std::printf("%s: %s\n", input.c_str(),
                  outcome == kExitNoFace ? "no face" : "cannot load (not a 24- or 32-bit BMP?)");
    }
  }
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  // The modes are chosen by the first word only, so `bmpface IN OUT` parses exactly as before
  // for any other first argument.
  if (argc >= 2 && std::strcmp(argv[1], "batch") == 0) {
    return bmpface::cli::RunBatch(argc - 1, argv + 1);
  }
  if (argc >= 2 && std::strcmp(argv[1], "explain") == 0) {
    return bmpface::cli::RunExplain(argc - 1, argv + 1);
  }
  CLI::App app{
      "Finds the face in a 24- or 32-bit BMP picture by skin colour and writes it as a new BMP.\n"
      "Exit status: 0 done, 1 input not loadable, 2 no face, 3 no memory for the crop,\n"
      "4 output not writable, 64 wrong command line.",
      "bmpface"};
  app.footer(
      "More:\n"
      "  bmpface batch PATH... --out DIR    crop many pictures at once (bmpface batch --help)\n"
      "  bmpface explain INPUT OUTPUT.png   draw how the face was chosen (bmpface explain --help)");
  app.set_version_flag("--version", "bmpface " BMPFACE_VERSION);
  std::vector<std::string> paths;
  bool detect = false;
  bool json = false;
  app.add_option("paths", paths, "INPUT OUTPUT, or with --detect one or more INPUTs")->required();
  app.add_flag("--detect", detect, "print each picture's face rectangle: x y width height");
  app.add_flag("--json", json, "with --detect: one JSON object per line");
  try {
    app.parse(argc, argv);
    if (!detect && paths.size() != 2) throw CLI::ValidationError("expected INPUT OUTPUT");
    if (json && !detect) throw CLI::ValidationError("--json needs --detect");
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : kExitUsage;
  }
  return detect ? Detect(paths, json) : Crop(paths[0], paths[1]);
}
