// The explain drawing without a file: for `bmpface explain` and for the service, which answers
// with the picture's bytes.
#ifndef BMPFACE_TOOLS_EXPLAIN_EXPLAIN_H_
#define BMPFACE_TOOLS_EXPLAIN_EXPLAIN_H_

#include <string>

#include "api/request.h"
#include "explain/draw.h"
#include "explain/output.h"  // EncodeDrawing, for the service
#include "photo/photo.h"

namespace bmpface::cli {

struct Explanation {
  // kFaceFound or kNoFace: drawn; kLoadFailed: the request's error says why; kExtractFailed: out
  // of memory for the drawing.
  Outcome outcome = Outcome::kLoadFailed;
  Canvas drawing;
  std::string text;  // what the command prints, each line headed by the picture's name
};

// Runs one request with `hooks` (the photo layer's for `request`, whose load the caller may
// replace; the search, the facts and the stop after the face are set here) on the input `name`,
// and draws what its search saw. May throw std::bad_alloc.
Explanation DrawExplanation(const std::string& name, RequestHooks hooks,
                            photo::PhotoRequest& request);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_EXPLAIN_H_
