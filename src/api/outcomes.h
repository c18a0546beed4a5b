// How a request ends, and what each ending is called everywhere: the export's status and line,
// the bmpface command's exit status, and the word in its reports. The one table of them.
#ifndef BMPFACE_API_OUTCOMES_H_
#define BMPFACE_API_OUTCOMES_H_

#include <cstdint>

#include "bmpface.h"

namespace bmpface {

enum class Outcome {
  kDone,           // face found, cropped and written
  kFaceFound,      // face found; the caller asked for nothing more (bmpface --detect)
  kLoadFailed,     // the input could not be loaded
  kNoFace,         // no face region (also: no memory for the search)
  kExtractFailed,  // no memory for the crop
  kSaveFailed,     // the output could not be written
  kUnverified,     // the face detector found no face in the chosen region (bmpface --verify)
};

struct OutcomeFacts {
  Outcome outcome;
  int32_t status;       // BMPFaceExtract's status
  const char* message;  // the export's line on standard output, or null
  int exitCode;         // the command's exit status for one picture
  const char* word;     // in batch reports and --detect --json
  const char* reason;   // the command's words for a failure on standard error, or null
  bool failure;         // the picture failed (a picture without a face has not failed)
  const char* help;     // the command's --help words for its exit status
};

inline constexpr OutcomeFacts kOutcomes[] = {
    {Outcome::kDone, BMPFACE_OK, nullptr, 0, "done", nullptr, false, "done"},
    {Outcome::kFaceFound, BMPFACE_OK, nullptr, 0, "face", nullptr, false, "face found"},
    {Outcome::kLoadFailed, BMPFACE_LOAD_FAILED, nullptr, 1, "load_failed",
     "missing, unreadable, or not a 24- or 32-bit BMP picture", true, "input not loadable"},
    {Outcome::kNoFace, BMPFACE_NO_FACE, "Error: No face detected in image\n", 2, "no_face", nullptr,
     false, "no face"},
    {Outcome::kExtractFailed, BMPFACE_EXTRACT_FAILED, "Error: Failed to extract face region\n", 3,
     "extract_failed", "no memory for the crop", true, "no memory for the crop"},
    {Outcome::kSaveFailed, BMPFACE_SAVE_FAILED, "Error: Failed to save output file\n", 4,
     "save_failed", "cannot write the output", true, "output not writable"},
    // Only the command's --verify ends so; the export never does, so its status is "no face".
    {Outcome::kUnverified, BMPFACE_NO_FACE, nullptr, 5, "unverified", nullptr, false,
     "unverified (--verify found no face in the region)"},
};

inline constexpr const OutcomeFacts& FactsOf(Outcome outcome) {
  return kOutcomes[static_cast<int>(outcome)];
}

// The table is indexed by the enum: its rows must stay in the enum's order.
constexpr bool OutcomeRowsInOrder() {
  for (int i = 0; i < static_cast<int>(sizeof kOutcomes / sizeof kOutcomes[0]); ++i) {
    if (static_cast<int>(kOutcomes[i].outcome) != i) return false;
  }
  return true;
}
static_assert(OutcomeRowsInOrder(), "kOutcomes rows out of the enum's order");

}  // namespace bmpface

#endif  // BMPFACE_API_OUTCOMES_H_
