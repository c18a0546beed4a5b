// `bmpface INPUT OUTPUT` and `bmpface --detect INPUT...`: one request per picture, through the
// library's own request function on the paths' bytes, with the photo layer's hooks (any format
// the build reads, upright, framed, written in the format asked for).
#include <cstdio>
#include <string>
#include <vector>

#include "api/outcomes.h"
#include "api/request.h"
#include "command.h"
#include "files.h"
#include "json.h"
#include "outcomes.h"
#include "photo/options.h"
#include "photo/photo.h"

namespace bmpface::cli {
namespace {

using photo::PhotoOptions;
using photo::PhotoRequest;

struct CropContext {
  PhotoRequest* request;
  const std::string* input;
  bool overwrite;
};

// The photo layer's save, unless the output has become the input since the command started.
int SaveUnlessInput(void* context, const char* output, const BMPImage& crop) {
  CropContext& c = *static_cast<CropContext*>(context);
  if (!c.overwrite && SameFile(*c.input, output)) {
    c.request->error = "it is the input itself";
    return 0;
  }
  return photo::PhotoSaveHook(c.request, output, crop);
}

// Why --verify did not confirm the face: the detector found none, or could not run.
std::string UnverifiedReason(const PhotoRequest& request) {
  return request.error.empty() ? "unverified: no frontal face in the chosen region"
                               : "unverified: " + request.error;
}

// The export's behaviour on byte paths: the same statuses and the same lines on standard output,
// plus the file and the reason on standard error. Unlike the export, it does not replace its own
// input unless asked to.
int Crop(const std::string& input, const std::string& output, const PhotoOptions& options,
         bool overwrite) {
  if (!overwrite && SameFile(input, output)) {
    std::fprintf(stderr, "bmpface: %s is the input itself; give --overwrite to replace it\n",
                 output.c_str());
    return kExitUsage;
  }
  PhotoRequest request;
  request.options = &options;
  CropContext context{&request, &input, overwrite};
  RequestHooks hooks = photo::PhotoHooks(request);
  hooks.context = &context;
  hooks.load = [](void* c, const char* path, BMPImage& image, const RowSink* sink) {
    return photo::PhotoLoadHook(static_cast<CropContext*>(c)->request, path, image, sink);
  };
  hooks.face = [](void* c, const BMPImage& source, FaceRect& rect) {
    return photo::PhotoFaceHook(static_cast<CropContext*>(c)->request, source, rect);
  };
  hooks.save = SaveUnlessInput;
  const Outcome outcome = RunRequest(input.c_str(), output.c_str(), &hooks, nullptr);
  const OutcomeFacts& facts = FactsOf(outcome);
  if (facts.message != nullptr) {
    std::fputs(facts.message, stdout);
    std::fflush(stdout);
  }
  if (outcome == Outcome::kLoadFailed) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(),
                 FailureReason(outcome, input, request.error).c_str());
  } else if (outcome == Outcome::kSaveFailed) {
    std::fprintf(stderr, "bmpface: cannot write %s: %s\n", output.c_str(),
                 FailureReason(outcome, input, request.error).c_str());
  } else if (outcome == Outcome::kDone) {
    std::fprintf(stderr, "bmpface: face written to %s\n", output.c_str());
  } else if (outcome == Outcome::kUnverified) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(), UnverifiedReason(request).c_str());
  }
  return facts.exitCode;
}

// Prints the face rectangle of each picture (the framed one when framing is asked for), in the
// upright picture's coordinates. Exit status: the worst outcome among them (WorseOutcome).
int Detect(const std::vector<std::string>& inputs, bool json, const PhotoOptions& options) {
  Outcome worst = Outcome::kFaceFound;
  for (const std::string& input : inputs) {
    PhotoRequest request;
    request.options = &options;
    request.stopAfterFace = true;
    const RequestHooks hooks = photo::PhotoHooks(request);
    FaceRect rect{};
    const Outcome outcome = RunRequest(input.c_str(), nullptr, &hooks, &rect);
    worst = WorseOutcome(worst, outcome);
    std::string line;
    if (json) {
      JsonLine object;
      object.Name("path", input);
      AddAnswer(object, outcome, rect, request, FailureReason(outcome, input, request.error));
      line = object.Finish();
    } else if (outcome == Outcome::kFaceFound) {
      line = input + ": " + std::to_string(rect.x) + " " + std::to_string(rect.y) + " " +
             std::to_string(rect.width) + " " + std::to_string(rect.height) + "\n";
    } else {
      line = input + ": " +
             (outcome == Outcome::kNoFace       ? std::string("no face")
              : outcome == Outcome::kUnverified ? UnverifiedReason(request)
                                                : FailureReason(outcome, input, request.error)) +
             "\n";
    }
    std::fputs(line.c_str(), stdout);
  }
  return FactsOf(worst).exitCode;
}

// The request's statuses and a wrong command line, in lines of at most 80 columns.
std::string SingleExitHelp() {
  std::vector<ExitHelp> rows = RequestOutcomesHelp();
  rows.push_back(HelpOf(CommandEnd::kUsage));
  return ExitStatusHelp(rows, 80);
}

}  // namespace

int RunSingle(int argc, char** argv) {
  CLI::App app{
      "Finds the face in a picture by skin colour and writes it as a new picture: BMP of any "
      "depth, and with libvips JPEG, PNG, WebP, TIFF, GIF and HEIF, turned upright by their "
      "EXIF orientation. The crop is written in the output name's format.\n" +
          SingleExitHelp(),
      "bmpface"};
  app.footer(
      "More:\n"
      "  bmpface batch PATH... --out DIR    crop many pictures at once (bmpface batch --help)\n"
      "  bmpface explain INPUT OUTPUT.png   draw how the face was chosen (bmpface explain --help)");
  app.set_version_flag("--version", [] {
    return std::string("bmpface " BMPFACE_VERSION "\n") + photo::PhotoSupport();
  });
  std::vector<std::string> paths;
  bool detect = false;
  bool json = false;
  bool overwrite = false;
  PhotoOptions options;
  app.add_option("paths", paths, "INPUT OUTPUT, or with --detect one or more INPUTs")->required();
  app.add_flag("--detect", detect,
               "print each picture's face rectangle: x y width height (framed, with the framing "
               "options)");
  app.add_flag("--json", json, "with --detect: one JSON object per line");
  app.add_flag("--overwrite", overwrite, "let OUTPUT be INPUT itself (refused otherwise)");
  photo::AddPhotoOptions(app, options);
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    if (!detect && paths.size() != 2) throw CLI::ValidationError("expected INPUT OUTPUT");
    if (json && !detect) throw CLI::ValidationError("--json needs --detect");
    if (!detect && paths[1].empty()) throw CLI::ValidationError("OUTPUT is an empty name");
    photo::CheckOutputSize(
        options, detect ? photo::Format::kUnknown : photo::OutputFormat(paths[1], options, {}));
  });
  if (parsed >= 0) return parsed;
  return detect ? Detect(paths, json, options) : Crop(paths[0], paths[1], options, overwrite);
}

}  // namespace bmpface::cli
