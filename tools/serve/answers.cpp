#include "serve/answers.h"

#include <CLI/CLI.hpp>
#include <new>

#include "api/request.h"
#include "explain/explain.h"
#include "json.h"
#include "photo/options.h"
#include "serve/status.h"

namespace bmpface::serve {
namespace {

// Query parameters and the command-line flags they stand for. A parameter whose flag this build
// lacks is refused as such, so that a client never gets a crop made without what it asked for.
struct Parameter {
  const char* name;
  const char* flag;  // null: not in this build
  unsigned set;      // the OptionSet the flag belongs to
};
constexpr Parameter kParameters[] = {
    {"format", "--format", photo::kOutputOptions},
    {"quality", "--quality", photo::kOutputOptions},
    {"margin", "--margin", photo::kFramingOptions},
    {"aspect", "--aspect", photo::kFramingOptions},
    {"size", "--size", photo::kFramingOptions},
    {"orient", "--no-orient", photo::kOrientOption},
    {"frame", "--frame", photo::kVerifyOptions},
    {"verify", "--verify", photo::kVerifyOptions},
    {"margin-top", "--margin-top", photo::kFramingOptions},
    {"margin-right", "--margin-right", photo::kFramingOptions},
    {"margin-bottom", "--margin-bottom", photo::kFramingOptions},
    {"margin-left", "--margin-left", photo::kFramingOptions},
    {"no-upscale", "--no-upscale", photo::kFramingOptions},
};

unsigned SetsOf(Endpoint endpoint) {
  return endpoint == Endpoint::kCrop
             ? photo::kAllPhotoOptions
             : photo::kOrientOption | photo::kFramingOptions | photo::kVerifyOptions;
}

std::string Rect4(const FaceRect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
         std::to_string(r.height);
}

// One request on bytes held in memory: the photo layer's hooks with the load from `bytes` and the
// save into `encoded`.
struct InMemory {
  const uint8_t* bytes;
  size_t size;
  photo::PhotoRequest request;
  std::vector<uint8_t> encoded;
};

int LoadBody(void* context, const char*, BMPImage& image, const RowSink*) {
  InMemory& m = *static_cast<InMemory*>(context);
  return photo::LoadPhotoFromMemory(m.bytes, m.size, *m.request.options, image, m.request.info,
                                    m.request.error);
}

int FrameFace(void* context, const BMPImage& source, FaceRect& rect) {
  return photo::PhotoFaceHook(&static_cast<InMemory*>(context)->request, source, rect);
}

int EncodeInto(void* context, const char*, const BMPImage& crop) {
  InMemory& m = *static_cast<InMemory*>(context);
  return photo::EncodeCrop(crop, "", *m.request.options, m.request.info, m.encoded, m.request.error)
             ? 1
             : 0;
}

// The reply of an outcome that is not an answer: its row's status, the request's words.
Reply OutcomeProblem(Outcome outcome, const std::string& said) {
  const HttpOfOutcome& row = HttpOf(outcome);
  Reply reply =
      Problem(row.status, row.title, said.empty() ? row.title : said, FactsOf(outcome).word);
  if (row.status == 503) reply.headers.emplace_back("Retry-After", "1");
  // The photo layer names the option in its refusal of a picture over the pixel limit only.
  if (said.find("--max-pixels") != std::string::npos) reply.limit = "pixels";
  return reply;
}

Reply Run(Endpoint endpoint, const photo::PhotoOptions& options, const uint8_t* bytes,
          size_t size) {
  const photo::Format format = photo::SniffFormat(bytes, size);
  if (format == photo::Format::kUnknown || (photo::NeedsVips(format) && !photo::BuiltWithVips())) {
    return Problem(415, "Unsupported picture format",
                   format == photo::Format::kUnknown
                       ? "the body is not a picture this service reads"
                       : std::string(photo::FormatName(format)) +
                             " needs libvips, which this "
                             "build has not",
                   "unsupported");
  }
  InMemory m{bytes, size, {}, {}};
  m.request.options = &options;
  RequestHooks hooks = photo::PhotoHooks(m.request);
  hooks.context = &m;
  hooks.load = LoadBody;
  hooks.face = FrameFace;
  hooks.save = EncodeInto;

  if (endpoint == Endpoint::kExplain) {
    cli::Explanation explained = cli::DrawExplanation("body", hooks, m.request);
    if (explained.outcome != Outcome::kFaceFound && explained.outcome != Outcome::kNoFace) {
      return OutcomeProblem(explained.outcome, m.request.error);
    }
    std::string error;
    if (!cli::EncodeDrawing(explained.drawing, photo::Format::kPNG, m.encoded, error)) {
      return OutcomeProblem(Outcome::kSaveFailed, error);
    }
    Reply reply{200,
                "image/png",
                std::string(m.encoded.begin(), m.encoded.end()),
                {},
                FactsOf(explained.outcome).word,
                {}};
    reply.headers.emplace_back("X-Bmpface-Outcome", reply.outcome);
    return reply;
  }

  m.request.stopAfterFace = endpoint == Endpoint::kDetect;
  FaceRect rect{};
  const Outcome outcome = RunRequest("body", "", &hooks, &rect);
  const HttpOfOutcome& row = HttpOf(outcome);
  if (row.status != 200) return OutcomeProblem(outcome, m.request.error);
  Reply reply;
  reply.outcome = FactsOf(outcome).word;
  reply.headers.emplace_back("X-Bmpface-Outcome", reply.outcome);
  reply.headers.emplace_back("X-Bmpface-Rect", Rect4(rect));
  reply.headers.emplace_back("X-Bmpface-Face", Rect4(m.request.face));
  // How sure the answer is, as --detect --json says it.
  const SearchFacts& f = m.request.facts;
  const SkinRegion& r = f.chosen;
  reply.headers.emplace_back("X-Bmpface-Region",
                             Rect4({r.minX, r.minY, r.maxX - r.minX + 1, r.maxY - r.minY + 1}));
  reply.headers.emplace_back(
      "X-Bmpface-Confidence",
      "score=" + std::to_string(f.score) + "; runner_up=" + std::to_string(f.runnerUp) + "; fill=" +
          std::to_string(RegionFill(r)) + "; skin_share=" + std::to_string(SkinShare(f)) +
          "; candidates=" + std::to_string(f.candidates));
  if (options.verify)
    reply.headers.emplace_back("X-Bmpface-Verified-Face", Rect4(m.request.verifiedFace));
  if (endpoint == Endpoint::kDetect) {
    reply.type = "application/json";
    reply.body = DetectJson(outcome, rect, m.request);
  } else {
    reply.type = photo::FormatMediaType(photo::OutputFormat("", options, m.request.info));
    reply.body.assign(m.encoded.begin(), m.encoded.end());
  }
  return reply;
}

}  // namespace

Reply Problem(int status, const std::string& title, const std::string& detail,
              const std::string& outcome) {
  cli::JsonLine object;
  object.String("type", "about:blank").String("title", title).Int("status", status);
  object.String("detail", detail).String("outcome", outcome);
  return {status, "application/problem+json", object.Finish(), {}, outcome, {}};
}

bool OptionsOfQuery(const Fields& query, Endpoint endpoint, uint64_t maxPixels,
                    photo::PhotoOptions& options, Reply& refusal) {
  options = photo::PhotoOptions{};
  options.maxPixels = maxPixels;
  if (query.empty()) return true;
  std::vector<std::string> args;  // CLI11 takes them last first
  for (const auto& [name, value] : query) {
    const Parameter* found = nullptr;
    for (const Parameter& p : kParameters) {
      if (name == p.name && (p.set & SetsOf(endpoint)) != 0) found = &p;
    }
    if (found == nullptr) {
      refusal = Problem(400, "Bad option", "unknown parameter '" + name + "'", "bad_option");
      return false;
    }
    if (found->flag == nullptr) {
      refusal =
          Problem(400, "Bad option", "'" + name + "' is not supported by this build", "bad_option");
      return false;
    }
    // Switches: orient=0 is --no-orient, verify=1 and no-upscale=1 are their flags.
    if (name == "orient" || name == "verify" || name == "no-upscale") {
      const bool on = value == "1" || value == "true";
      if (!on && value != "0" && value != "false") {
        refusal = Problem(400, "Bad option", name + ": expected 1, 0, true or false", "bad_option");
        return false;
      }
      if (on != (name == "orient")) args.insert(args.begin(), found->flag);
      continue;
    }
    args.insert(args.begin(), std::string(found->flag) + "=" + value);
  }
  try {
    CLI::App app;
    photo::AddPhotoOptions(app, options, SetsOf(endpoint));
    app.parse(args);
    photo::CheckOutputSize(options, options.format);
  } catch (const CLI::ParseError& e) {
    refusal = Problem(400, "Bad option", e.what(), "bad_option");
    return false;
  }
  options.maxPixels = maxPixels;
  return true;
}

Reply Answer(Endpoint endpoint, const photo::PhotoOptions& options, const uint8_t* bytes,
             size_t size) {
  if (size == 0) return Problem(400, "Empty body", "send the picture's bytes as the body", "empty");
  try {
    return Run(endpoint, options, bytes, size);
  } catch (const std::bad_alloc&) {
    return OutcomeProblem(Outcome::kExtractFailed, "out of memory");
  }
}

std::string DetectJson(Outcome outcome, const FaceRect& rect, const photo::PhotoRequest& request) {
  cli::JsonLine object;
  return cli::AddAnswer(object, outcome, rect, request, request.error).Finish();
}

}  // namespace bmpface::serve
