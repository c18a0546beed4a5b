// One picture of a batch: refused, skipped, or run as a request whose crop is written whole.
#ifndef BMPFACE_TOOLS_BATCH_JOB_H_
#define BMPFACE_TOOLS_BATCH_JOB_H_

#include <map>
#include <string>

#include "api/outcomes.h"
#include "batch/plan.h"
#include "image/crop.h"
#include "outcomes.h"
#include "photo/photo.h"

namespace bmpface::cli {

struct JobResult {
  JobEnd end = JobEnd::kRequest;
  Outcome outcome = Outcome::kDone;  // of the request, when it ran
  bool hasRect = false;              // the crop's rectangle is known: done, or skipped with a crop
  FaceRect rect{};
  bool searched = false;  // the request's search ran: `facts` holds what it found
  SearchFacts facts{};
  bool checked = false;   // --verify looked at the chosen region
  bool verified = false;  // and confirmed it: the face it found
  FaceRect verifiedFace{};
  std::string written;  // the crop or the reject copy; empty when nothing was written
  std::string error;    // for failures: why, in words
};

// The word of the report, and whether the picture failed (a picture without a face has not).
const char* JobWord(const JobResult& result);
bool JobFailed(const JobResult& result);

struct JobSettings {
  bool resume = false;
  const InputSet* inputs = nullptr;  // never written over
  std::string out;                   // the output folder
  std::string reject;                // the folder for pictures without a face, or empty
  // --resume: the rectangles an earlier report gives, by path; a skipped crop missing from it is
  // detected again.
  const std::map<std::string, FaceRect>* earlier = nullptr;
  // How pictures are read, framed and written (formats, orientation, framing, quality).
  const photo::PhotoOptions* photo = nullptr;
};

JobResult RunJob(const Job& job, const JobSettings& settings);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_JOB_H_
