// `bmpface INPUT OUTPUT` and `bmpface --detect INPUT...`: one request per picture, through the
// library's own request function on the paths' bytes.
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "api/outcomes.h"
#include "api/request.h"
#include "command.h"
#include "files.h"
#include "json.h"

namespace bmpface::cli {
namespace {

struct CropContext {
  const std::string* input;
  bool overwrite;
  int reason;  // errno of a failed write
};

// The library's writer, unless the output has become the input meanwhile.
int SaveUnlessInput(void* context, const char* output, const BMPImage& crop) {
  CropContext& c = *static_cast<CropContext*>(context);
  if (!c.overwrite && SameFile(*c.input, output)) {
    c.reason = EEXIST;
    return 0;
  }
  errno = 0;
  const int saved = SaveBMP(output, crop);
  c.reason = errno;
  return saved;
}

// The export's behaviour on byte paths: the same statuses and the same lines on standard output,
// plus the file and the reason on standard error. Unlike the export, it does not replace its own
// input unless asked to.
int Crop(const std::string& input, const std::string& output, bool overwrite) {
  if (!overwrite && SameFile(input, output)) {
    std::fprintf(stderr, "bmpface: %s is the input itself; give --overwrite to replace it\n",
                 output.c_str());
    return kExitUsage;
  }
  CropContext context{&input, overwrite, 0};
  RequestHooks hooks{};
  hooks.context = &context;
  hooks.save = SaveUnlessInput;
  const Outcome outcome = RunRequest(input.c_str(), output.c_str(), &hooks, nullptr);
  const OutcomeFacts& facts = FactsOf(outcome);
  if (facts.message != nullptr) {
    std::fputs(facts.message, stdout);
    std::fflush(stdout);
  }
  if (outcome == Outcome::kLoadFailed) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(), LoadFailureReason(input).c_str());
  } else if (outcome == Outcome::kSaveFailed) {
    std::fprintf(stderr, "bmpface: cannot write %s: %s\n", output.c_str(),
                 context.reason == EEXIST ? "it became the input"
                 : context.reason != 0    ? std::generic_category().message(context.reason).c_str()
                                          : "the picture cannot be written");
  } else if (outcome == Outcome::kDone) {
    std::fprintf(stderr, "bmpface: face written to %s\n", output.c_str());
  }
  return facts.exitCode;
}

int StopAfterDetection(void*, const BMPImage&, FaceRect&) { return 0; }

// Prints the face rectangle of each picture. Exit status: the worst outcome among them (a picture
// that cannot be loaded is worse than one without a face).
int Detect(const std::vector<std::string>& inputs, bool json) {
  RequestHooks hooks{};
  hooks.face = StopAfterDetection;
  int worst = 0;
  for (const std::string& input : inputs) {
    FaceRect rect{};
    const Outcome outcome = RunRequest(input.c_str(), nullptr, &hooks, &rect);
    const OutcomeFacts& facts = FactsOf(outcome);
    if (outcome == Outcome::kLoadFailed || (outcome == Outcome::kNoFace && worst == 0)) {
      worst = facts.exitCode;
    }
    std::string line;
    if (json) {
      JsonLine object;
      object.Name("path", input).String("status", facts.word);
      if (outcome == Outcome::kFaceFound) object.Rect(rect);
      line = object.Finish();
    } else if (outcome == Outcome::kFaceFound) {
      line = input + ": " + std::to_string(rect.x) + " " + std::to_string(rect.y) + " " +
             std::to_string(rect.width) + " " + std::to_string(rect.height) + "\n";
    } else {
      line = input + ": " +
             (outcome == Outcome::kNoFace ? std::string("no face") : LoadFailureReason(input)) +
             "\n";
    }
    std::fputs(line.c_str(), stdout);
  }
  return worst;
}

}  // namespace

int RunSingle(int argc, char** argv) {
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
  bool overwrite = false;
  app.add_option("paths", paths, "INPUT OUTPUT, or with --detect one or more INPUTs")->required();
  app.add_flag("--detect", detect, "print each picture's face rectangle: x y width height");
  app.add_flag("--json", json, "with --detect: one JSON object per line");
  app.add_flag("--overwrite", overwrite, "let OUTPUT be INPUT itself (refused otherwise)");
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    if (!detect && paths.size() != 2) throw CLI::ValidationError("expected INPUT OUTPUT");
    if (json && !detect) throw CLI::ValidationError("--json needs --detect");
  });
  if (parsed >= 0) return parsed;
  return detect ? Detect(paths, json) : Crop(paths[0], paths[1], overwrite);
}

}  // namespace bmpface::cli
