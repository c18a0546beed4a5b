// The HTTP status of each way a request can end: the one place outcomes become statuses.
#ifndef BMPFACE_TOOLS_SERVE_STATUS_H_
#define BMPFACE_TOOLS_SERVE_STATUS_H_

#include "api/outcomes.h"

namespace bmpface::serve {

struct HttpOfOutcome {
  Outcome outcome;
  int status;
  const char* title;  // the problem's title when the status is an error
};

inline constexpr HttpOfOutcome kHttpOfOutcome[] = {
    {Outcome::kDone, 200, "OK"},
    {Outcome::kFaceFound, 200, "OK"},
    {Outcome::kLoadFailed, 422, "The picture cannot be read"},
    {Outcome::kNoFace, 422, "No face in the picture"},
    // The crop's memory ran out: the machine is busy, not the picture at fault.
    {Outcome::kExtractFailed, 503, "No memory for the crop"},
    {Outcome::kSaveFailed, 500, "The crop cannot be encoded"},
    {Outcome::kUnverified, 422, "The face was not verified"},
};

inline constexpr const HttpOfOutcome& HttpOf(Outcome outcome) {
  return kHttpOfOutcome[static_cast<int>(outcome)];
}

// One row for each outcome of the table in api/outcomes.h, in the enum's order: an outcome added
// there stops the build here until it has a status.
constexpr bool HttpRowsMatchOutcomes() {
  constexpr int rows = static_cast<int>(sizeof kHttpOfOutcome / sizeof kHttpOfOutcome[0]);
  if (rows != static_cast<int>(sizeof kOutcomes / sizeof kOutcomes[0])) return false;
  for (int i = 0; i < rows; ++i) {
    if (kHttpOfOutcome[i].outcome != kOutcomes[i].outcome) return false;
  }
  return true;
}
static_assert(HttpRowsMatchOutcomes(), "every Outcome needs one row in kHttpOfOutcome");

}  // namespace bmpface::serve

#endif  // BMPFACE_TOOLS_SERVE_STATUS_H_
