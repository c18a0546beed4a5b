// bmpface explain: the command line of a picture of how the face rectangle was chosen.
#include "explain/explain.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "command.h"
#include "detect/candidate.h"
#include "explain/output.h"
#include "files.h"
#include "outcomes.h"
#include "photo/options.h"
#include "photo/photo.h"

namespace bmpface::cli {
namespace {

// Runs the request once, draws what its search saw and writes the drawing. Returns the exit
// status.
int Explain(const std::string& input, const std::string& output, const photo::PhotoOptions& options,
            photo::Format format) {
  photo::PhotoRequest request;
  request.options = &options;
  Explanation explained = DrawExplanation(input, photo::PhotoHooks(request), request);
  if (explained.outcome == Outcome::kLoadFailed) {
    std::fprintf(stderr, "bmpface: %s: %s\n", input.c_str(),
                 FailureReason(explained.outcome, input, request.error).c_str());
    return FactsOf(explained.outcome).exitCode;
  }
  if (explained.outcome == Outcome::kExtractFailed) {
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return FactsOf(Outcome::kExtractFailed).exitCode;
  }
  std::string error;
  if (!WriteDrawing(output, explained.drawing, format, error)) {
    std::fprintf(stderr, "bmpface: cannot write %s%s%s\n", output.c_str(),
                 error.empty() ? "" : ": ", error.c_str());
    return FactsOf(Outcome::kSaveFailed).exitCode;
  }
  std::fputs(explained.text.c_str(), stdout);
  return 0;
}

}  // namespace

int RunExplain(int argc, char** argv) {
  const std::string side = std::to_string(kMinRegionSide);
  CLI::App app{
      "Draws how bmpface chose the face: the picture (upright) dimmed, skin pixels tinted blue, "
      "every skin region of at least " +
          side + " x " + side +
          " pixels outlined (green: a candidate, labelled with "
          "its score; red: labelled with the first test it failed), the chosen region outlined "
          "boldly, the face rectangle in bold yellow and, with framing options, the crop in "
          "magenta; "
          "a legend of the colours and the seven tests below. A small picture is drawn enlarged. "
          "Prints the same on standard output.\n" +
          ExitStatusHelp({HelpOf(CommandEnd::kDrawn), HelpOf(Outcome::kLoadFailed),
                          HelpOf(CommandEnd::kOutOfMemory), HelpOf(Outcome::kSaveFailed),
                          HelpOf(CommandEnd::kUsage)}),
      "bmpface explain"};
  std::string input, output;
  bool overwrite = false;
  photo::PhotoOptions options;
  app.add_option("INPUT", input, "the picture")->required();
  app.add_option("OUTPUT", output,
#if defined(BMPFACE_HAVE_VIPS)
                 "the picture to write: NAME.png, NAME.jpg or NAME.bmp"
#elif defined(BMPFACE_HAVE_PNG)
                 "the picture to write: NAME.png or NAME.bmp"
#else
                 "the picture to write: NAME.bmp (this build has no PNG support)"
#endif
                 )
      ->required();
  app.add_flag("--overwrite", overwrite, "let OUTPUT be INPUT itself (refused otherwise)");
  photo::AddPhotoOptions(app, options, photo::kOrientOption | photo::kFramingOptions);
  photo::Format format = photo::Format::kUnknown;
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    photo::CheckOutputSize(options, photo::Format::kUnknown);
    format = photo::FormatOfName(output);
    if (format != photo::Format::kPNG && format != photo::Format::kJPEG &&
        format != photo::Format::kBMP) {
      throw CLI::ValidationError("OUTPUT must end in .png, .jpg or .bmp");
    }
#if !defined(BMPFACE_HAVE_VIPS)
    if (format == photo::Format::kJPEG) {
      throw CLI::ValidationError("this bmpface was built without libvips: write a .png or .bmp");
    }
#if !defined(BMPFACE_HAVE_PNG)
    if (format == photo::Format::kPNG) {
      throw CLI::ValidationError("this bmpface was built without libpng: write a .bmp");
    }
#endif
#endif
  });
  if (parsed >= 0) return parsed;

  if (!overwrite && SameFile(input, output)) {
    std::fprintf(stderr, "bmpface: %s is the input itself; give --overwrite to replace it\n",
                 output.c_str());
    return kExitUsage;
  }
  // Memory runs out as an exit status and a message, never as an abort.
  try {
    return Explain(input, output, options, format);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "bmpface: %s: out of memory\n", input.c_str());
    return FactsOf(Outcome::kExtractFailed).exitCode;
  }
}

}  // namespace bmpface::cli
