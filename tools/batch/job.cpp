#include "batch/job.h"

#include <filesystem>
#include <system_error>

#include "api/request.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

std::string PartName(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".part")).string();
}

// The request's save step: the crop goes under a temporary name beside the output and is renamed
// into place, so an output that exists is always whole and --resume may trust it.
int SaveWhole(void*, const char* output, const BMPImage& crop) {
  const std::string part = PartName(output);
  if (SaveBMP(part.c_str(), crop) == 0) return 0;  // SaveBMP removed the partial file
  std::error_code ec;
  fs::rename(part, output, ec);
  if (ec) fs::remove(part, ec);
  return !ec ? 1 : 0;
}

bool CopyWhole(const std::string& from, const std::string& to) {
  const std::string part = PartName(to);
  std::error_code ec;
  fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(part, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
  }
  return !ec;
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
    if (target->empty()) continue;
    if (settings.inputs->Holds(*target) || settings.inputs->Holds(PartName(*target))) {
      r.end = JobEnd::kRefused;
      r.error = "writing " + *target + " would replace an input";
      return r;
    }
  }
  std::error_code ec;
  if (settings.resume &&
      (fs::exists(job.output, ec) || (!job.reject.empty() && fs::exists(job.reject, ec)))) {
    r.end = JobEnd::kSkipped;
    r.written = fs::exists(job.output, ec) ? job.output : job.reject;
    return r;
  }

  RequestHooks hooks{};
  hooks.save = SaveWhole;
  r.outcome = RunRequest(job.input.c_str(), job.output.c_str(), &hooks, &r.rect);
  switch (r.outcome) {
    case Outcome::kDone:
      r.written = job.output;
      break;
    case Outcome::kNoFace:
      if (job.reject.empty()) break;
      if (CopyWhole(job.input, job.reject)) {
        r.written = job.reject;
      } else {
        r.end = JobEnd::kRejectFailed;
        r.error = "cannot copy to " + job.reject;
      }
      break;
    case Outcome::kSaveFailed:
      r.error = "cannot write " + job.output;
      break;
    default:
      r.error = FactsOf(r.outcome).reason != nullptr ? FactsOf(r.outcome).reason : "";
      break;
  }
  return r;
}

}  // namespace bmpface::cli
