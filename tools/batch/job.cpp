#include "batch/job.h"

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "api/request.h"
#include "batch/write.h"
#include "files.h"
#include "sys/files.h"

namespace bmpface::cli {
namespace {

bool IsRegularFile(const std::string& path) { return sys::KindOf(path) == sys::PathKind::kRegular; }

// The library's own BMP writer, into the batch's temporary file.
bool FillWithBMP(int fd, const BMPImage& crop, std::string& error) {
  std::FILE* file = sys::StreamOver(fd, "wb");
  if (file == nullptr) {
    error = std::generic_category().message(errno);
    return false;
  }
  bool ok = WriteBMP(file, crop) == 1;
  const int reason = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) error = std::generic_category().message(reason != 0 ? reason : errno);
  return ok;
}

// One job's request: the photo layer reads and frames the picture; the crop is written here.
struct JobRequest {
  const Job* job;
  const JobSettings* settings;
  photo::PhotoRequest photo;
  std::string error;  // why the save failed
};

int LoadPicture(void* context, const char* input, BMPImage& image, const RowSink* sink) {
  return photo::PhotoLoadHook(&static_cast<JobRequest*>(context)->photo, input, image, sink);
}

int FrameFace(void* context, const BMPImage& source, FaceRect& rect) {
  return photo::PhotoFaceHook(&static_cast<JobRequest*>(context)->photo, source, rect);
}

// The request's save step: the crop, in the output's format, is written whole or not at all
// (write.h). A BMP crop goes through the library's own writer.
int SaveWhole(void* context, const char* output, const BMPImage& crop) {
  JobRequest& r = *static_cast<JobRequest*>(context);
  const photo::PhotoOptions& options = *r.photo.options;
  const auto fill = [&](int fd, std::string& error) {
    if (photo::LibraryWritesCrop(output, options, r.photo.info))
      return FillWithBMP(fd, crop, error);
    std::vector<uint8_t> bytes;
    return photo::EncodeCrop(crop, output, options, r.photo.info, bytes, error) &&
           WriteBytes(fd, bytes.data(), bytes.size(), error);
  };
  const JobSettings& settings = *r.settings;
  return WriteWhole({settings.out, r.job->outputName}, *settings.inputs, fill, r.error) ? 1 : 0;
}

RequestHooks HooksFor(JobRequest& request) {
  RequestHooks hooks{};
  hooks.context = &request;
  hooks.facts = &request.photo.facts;
  hooks.load = LoadPicture;
  hooks.face = FrameFace;
  hooks.save = SaveWhole;
  return hooks;
}

// --resume: a picture whose crop or reject copy exists is not done again. Its rectangle comes from
// the earlier report, or from detecting it again.
bool Skip(const Job& job, const JobSettings& settings, JobResult& r) {
  const bool cropped = IsRegularFile(job.output);
  if (!cropped && !IsRegularFile(job.reject)) return false;
  r.end = JobEnd::kSkipped;
  r.written = cropped ? job.output : job.reject;
  if (!cropped) return true;
  if (settings.earlier != nullptr) {
    const auto known = settings.earlier->find(job.input);
    if (known != settings.earlier->end()) {
      r.rect = known->second;
      r.hasRect = true;
      return true;
    }
  }
  JobRequest request{&job, &settings, {}, ""};
  request.photo.options = settings.photo;
  request.photo.stopAfterFace = true;
  const RequestHooks hooks = HooksFor(request);
  r.hasRect = RunRequest(job.input.c_str(), nullptr, &hooks, &r.rect) == Outcome::kFaceFound;
  return true;
}

}  // namespace

const char* JobWord(const JobResult& result) {
  return result.end == JobEnd::kRequest ? FactsOf(result.outcome).word : FactsOf(result.end).word;
}

bool JobFailed(const JobResult& result) {
  return result.end == JobEnd::kRequest ? FactsOf(result.outcome).failure
                                        : FactsOf(result.end).failure;
}

JobResult RunJob(const Job& job, const JobSettings& settings) {
  JobResult r;
  if (!job.refused.empty()) {
    r.end = JobEnd::kRefused;
    r.error = job.refused;
    return r;
  }
  for (const std::string* target : {&job.output, &job.reject}) {
    if (!target->empty() && settings.inputs->HoldsEntry(*target)) {
      r.end = JobEnd::kRefused;
      r.error = "writing " + *target + " would replace an input";
      return r;
    }
  }
  if (settings.resume && Skip(job, settings, r)) return r;

  JobRequest request{&job, &settings, {}, ""};
  request.photo.options = settings.photo;
  const RequestHooks hooks = HooksFor(request);
  r.outcome = RunRequest(job.input.c_str(), job.output.c_str(), &hooks, &r.rect);
  r.searched = r.outcome != Outcome::kLoadFailed;
  r.facts = request.photo.facts;
  r.checked = settings.photo->verify && request.photo.facts.found;
  r.verified = request.photo.verified;
  r.verifiedFace = request.photo.verifiedFace;
  switch (r.outcome) {
    case Outcome::kDone:
      r.hasRect = true;
      r.written = job.output;
      break;
    case Outcome::kNoFace:
    case Outcome::kUnverified:
      if (job.reject.empty()) break;
      if (CopyWhole(job.input, {settings.reject, job.name}, *settings.inputs, r.error)) {
        r.written = job.reject;
      } else {
        r.end = JobEnd::kRejectFailed;
      }
      break;
    case Outcome::kLoadFailed:
      r.error = FailureReason(r.outcome, job.input, request.photo.error);
      break;
    case Outcome::kSaveFailed:
      r.error = FailureReason(r.outcome, job.input, request.error);
      break;
    default:
      r.error = FactsOf(r.outcome).reason;
      break;
  }
  return r;
}

}  // namespace bmpface::cli
