#include "batch/job.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "api/request.h"
#include "batch/write.h"
#include "files.h"

namespace bmpface::cli {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

// The library's own BMP writer, into the batch's temporary file.
bool FillWithBMP(int fd, const BMPImage& crop, std::string& error) {
#ifdef _WIN32
  const int copy = _dup(fd);
  std::FILE* file = copy >= 0 ? _fdopen(copy, "wb") : nullptr;
#else
  const int copy = dup(fd);
  std::FILE* file = copy >= 0 ? fdopen(copy, "wb") : nullptr;
#endif
  if (file == nullptr) {
    error = std::generic_category().message(errno);
    return false;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  bool ok = WriteBMP(file, crop) == 1;
  const int reason = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) error = std::generic_category().message(reason != 0 ? reason : errno);
  return ok;
}

struct SaveContext {
  const Job* job;
  const JobSettings* settings;
  std::string error;
};

// The request's save step: the crop is written whole or not at all (write.h).
int SaveWhole(void* context, const char*, const BMPImage& crop) {
  SaveContext& c = *static_cast<SaveContext*>(context);
  const auto fill = [&](int fd, std::string& error) { return FillWithBMP(fd, crop, error); };
  return WriteWhole({c.settings->out, c.job->outputName}, *c.settings->inputs, fill, c.error) ? 1 : 0;
}

int StopAfterDetection(void*, const BMPImage&, FaceRect&) { return 0; }

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
  RequestHooks hooks{};
  hooks.face = StopAfterDetection;
  r.hasRect = RunRequest(job.input.c_str(), nullptr, &hooks, &r.rect) == Outcome::kFaceFound;
  return true;
}

}  // namespace

const char* JobWord(const JobResult& result) {
  switch (result.end) {
    case JobEnd::kRequest:
      break;
    case JobEnd::kSkipped:
      return "skipped";
    case JobEnd::kRefused:
      return "refused";
    case JobEnd::kRejectFailed:
      return "reject_failed";
  }
  return FactsOf(result.outcome).word;
}

bool JobFailed(const JobResult& result) {
  return result.end == JobEnd::kRefused || result.end == JobEnd::kRejectFailed ||
         (result.end == JobEnd::kRequest && FactsOf(result.outcome).failure);
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

  SaveContext save{&job, &settings, ""};
  RequestHooks hooks{};
  hooks.context = &save;
  hooks.save = SaveWhole;
  r.outcome = RunRequest(job.input.c_str(), job.output.c_str(), &hooks, &r.rect);
  switch (r.outcome) {
    case Outcome::kDone:
      r.hasRect = true;
      r.written = job.output;
      break;
    case Outcome::kNoFace:
      if (job.reject.empty()) break;
      if (CopyWhole(job.input, {settings.reject, job.name}, *settings.inputs, r.error)) {
        r.written = job.reject;
      } else {
        r.end = JobEnd::kRejectFailed;
      }
      break;
    case Outcome::kLoadFailed:
      r.error = LoadFailureReason(job.input);
      break;
    case Outcome::kSaveFailed:
      r.error = save.error.empty() ? FactsOf(r.outcome).reason : save.error;
      break;
    default:
      r.error = FactsOf(r.outcome).reason;
      break;
  }
  return r;
}

}  // namespace bmpface::cli
