// What the service answers to a picture, apart from any HTTP library: the query's options, the
// request run on the body's bytes, and the reply (status, type, body, headers).
#ifndef BMPFACE_TOOLS_SERVE_ANSWERS_H_
#define BMPFACE_TOOLS_SERVE_ANSWERS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "photo/photo.h"

namespace bmpface::serve {

enum class Endpoint { kCrop, kDetect, kExplain };

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Reply {
  int status = 200;
  std::string type;  // Content-Type
  std::string body;
  Fields headers;
  std::string outcome;  // for the log and the metrics: the outcome's word, or why it was refused
  std::string limit;    // the limit that refused it ("pixels"), or empty
};

// An error as application/problem+json: `outcome` also goes into the body.
Reply Problem(int status, const std::string& title, const std::string& detail,
              const std::string& outcome);

// The options of `endpoint` from the query's parameters, by the command line's own rules (the
// same words, ranges and messages as the flags they stand for); the pixel limit stays the
// server's. False with a 400 reply when a parameter is unknown, malformed or out of range.
bool OptionsOfQuery(const Fields& query, Endpoint endpoint, uint64_t maxPixels,
                    photo::PhotoOptions& options, Reply& refusal);

// Runs the endpoint's request on the picture in `bytes` and makes the reply. Never throws.
Reply Answer(Endpoint endpoint, const photo::PhotoOptions& options, const uint8_t* bytes,
             size_t size);

// The body of a found face for POST /v1/detect: the fields of `bmpface --detect --json` without
// the path, which a body has not.
std::string DetectJson(Outcome outcome, const FaceRect& rect, const photo::PhotoRequest& request);

}  // namespace bmpface::serve

#endif  // BMPFACE_TOOLS_SERVE_ANSWERS_H_
