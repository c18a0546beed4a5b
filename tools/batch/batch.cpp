// bmpface batch: the face crop of many pictures, several requests at once. The command line is
// read here; planning is in plan.cpp, one picture's work in job.cpp, writing in write.cpp, the
// report in report.cpp, the workers in runner.cpp.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "batch/job.h"
#include "batch/plan.h"
#include "batch/report.h"
#include "batch/runner.h"
#include "batch/write.h"
#include "command.h"
#include "files.h"
#include "photo/format.h"
#include "photo/options.h"
#include "photo/photo.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

constexpr int kExitNoInput = 66;     // the --from list cannot be read
constexpr int kExitCantCreate = 73;  // an output folder or the report cannot be made
constexpr int kExitReportLost = 74;  // the report could not be written whole

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "bmpface batch: %s\n", message.c_str());
  return status;
}

// Why the report may not be at `path`: it must be no input, no output and no temporary name.
std::string ReportConflict(const std::string& path, const InputSet& inputs,
                           const std::vector<Job>& jobs) {
  if (path == "-") return "";
  if (inputs.Holds(path)) return "the report " + path + " would replace an input";
  if (IsTemporaryName(fs::path(path).filename().string())) {
    return "the report " + path + " has the name of a temporary file";
  }
  std::error_code ec;
  const fs::path report = fs::absolute(path, ec).lexically_normal();
  for (const Job& job : jobs) {
    for (const std::string* target : {&job.output, &job.reject}) {
      if (target->empty()) continue;
      if (fs::absolute(*target, ec).lexically_normal() == report || SameFile(*target, path)) {
        return "the report " + path + " is the output of " + job.input;
      }
    }
  }
  return "";
}

}  // namespace

int RunBatch(int argc, char** argv) {
  StopOnSignals();  // first, so that no signal finds the batch without its handler
  CLI::App app{
      "Crops the face of many pictures: each crop goes to the output folder under the picture's "
      "name (pictures found in a folder keep their place below it). Never overwrites an input; a "
      "failed picture does not stop the batch. SIGINT or SIGTERM stop it after the pictures in "
      "hand.\n"
      "Exit status: 0 no picture failed (some may have no face), 1 some failed, 64 wrong command "
      "line, 66 the --from list cannot be read, 73 a folder or the report cannot be made, 74 the "
      "report could not be written, 130/143 stopped by SIGINT/SIGTERM.",
      "bmpface batch"};
  std::vector<std::string> args;
  std::string from, reportPath, shard, base;
  PlanOptions options;
  photo::PhotoOptions photoOptions;
  int jobs = CoreCount();
  bool resume = false, noProgress = false, nulSeparated = false;
  app.add_option("paths", args,
                 "pictures, and folders searched at any depth for the pictures this build reads "
                 "(by extension, then by content)");
  app.add_option("--from", from, "also take paths from FILE, one a line (- reads standard input)");
  app.add_flag("-0,--null", nulSeparated,
               "with --from: paths end with NUL bytes, as find -print0 writes them");
  app.add_option("--base", base,
                 "name each output by the picture's path below DIR (for listed paths and several "
                 "folders); pictures outside DIR are refused");
  app.add_option("-o,--out", options.out, "folder for the crops (made when missing)")->required();
  app.add_option(
      "--reject", options.reject,
      "copy the pictures without a face (or unverified, with --verify) into this folder");
  app.add_option("--report", reportPath,
                 "write one JSON line per picture (path, status, rectangle, output) to FILE, or to "
                 "standard output with -; with --resume it is appended to");
  photo::AddWholeNumber(app, "-j,--jobs", jobs, 1, 1024,
                        "requests at once (default: the number of cores); each may hold up to "
                        "about 4 bytes a pixel of the --max-pixels limit");
  app.add_flag("--resume", resume, "skip pictures whose crop or reject copy already exists");
  app.add_option("--shard", shard,
                 "K/N: only the K-th (0 to N-1) of N disjoint shares of the pictures, chosen by a "
                 "hash of each path as given");
  app.add_flag("--no-progress", noProgress, "no progress line, even on a terminal");
  photo::AddPhotoOptions(app, photoOptions);
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    if (args.empty() && from.empty()) {
      throw CLI::ValidationError("no pictures: give paths or --from");
    }
    for (const auto& [name, value] : {std::pair{"--out", &options.out},
                                      {"--reject", &options.reject},
                                      {"--report", &reportPath},
                                      {"--base", &base},
                                      {"--from", &from}}) {
      if (app.count(name) > 0 && value->empty()) {
        throw CLI::ValidationError(std::string(name) + " needs a non-empty value");
      }
    }
    if (nulSeparated && from.empty()) throw CLI::ValidationError("-0 needs --from");
    if (!shard.empty() && !ParseShard(shard, options.shardK, options.shardN)) {
      throw CLI::ValidationError("--shard: expected K/N with 0 <= K < N");
    }
    photo::CheckOutputSize(photoOptions, photoOptions.format);
  });
  if (parsed >= 0) return parsed;
  if (photoOptions.format != photo::Format::kUnknown) {
    options.outputExtension = photo::FormatExtension(photoOptions.format);
  }

  std::vector<Listed> listed;
  for (const std::string& arg : args) listed.push_back({arg, ""});
  if (!from.empty() && !ReadList(from, nulSeparated ? '\0' : '\n', listed)) {
    return Fail(kExitNoInput, "cannot read the list " + from);
  }
  std::vector<fs::path> folders;
  for (const std::string* dir : {&options.out, &options.reject}) {
    if (dir->empty()) continue;
    std::error_code ec;
    fs::create_directories(*dir, ec);
    if (!fs::is_directory(*dir, ec)) {
      return Fail(kExitCantCreate,
                  "cannot create the folder " + *dir + (ec ? ": " + ec.message() : std::string()));
    }
    folders.emplace_back(*dir);
  }

  // Every machine of a sharded batch plans the whole list the same way, so the refusals (two
  // pictures wanting one output name) do not depend on the shares.
  std::vector<Found> found;
  std::set<std::string> seen;
  for (const Listed& entry : listed) {
    if (!seen.insert(entry.path).second) continue;
    if (entry.refused.empty()) {
      FindPictures(entry.path, folders, base, found);
    } else {
      found.push_back({entry.path, {}, entry.refused});
    }
  }
  InputSet inputs;
  for (const Found& f : found) inputs.Add(f.input);
  const std::vector<Job> plan = PlanJobs(found, options);
  if (!options.reject.empty()) {
    PlanOptions whole = options;
    whole.shardK = 0;
    whole.shardN = 1;
    const std::string clash = SharedWritePath(PlanJobs(found, whole));
    if (!clash.empty()) return Fail(kExitUsage, clash);
  }

  const std::string conflict = ReportConflict(reportPath, inputs, plan);
  if (!reportPath.empty() && !conflict.empty()) return Fail(kExitUsage, conflict);

  // Every folder a crop or copy goes to: a killed run's leftovers removed, and checked writable
  // before the first picture, so that a folder that cannot be written ends the batch at once.
  std::set<std::pair<std::string, fs::path>> targets;
  for (const Job& job : plan) {
    if (!job.refused.empty()) continue;
    targets.insert({options.out, job.outputName.parent_path()});
    if (!options.reject.empty()) targets.insert({options.reject, job.name.parent_path()});
  }
  size_t stale = 0;
  for (const auto& [root, folder] : targets) {
    std::string error;
    if (!CheckWritable(root, folder, error)) return Fail(kExitCantCreate, error);
    stale += RemoveStaleTemporaries(root, folder);
  }
  if (stale > 0) {
    std::fprintf(stderr, "bmpface batch: removed %zu temporary file%s left by an interrupted run\n",
                 stale, stale == 1 ? "" : "s");
  }

  const std::map<std::string, FaceRect> earlier =
      resume ? EarlierRects(reportPath) : std::map<std::string, FaceRect>();
  Report report;
  if (!reportPath.empty()) {
    std::string error;
    if (!OpenReport(reportPath, resume, report, error)) return Fail(kExitCantCreate, error);
  }

  // libvips starts once, with one thread of its own per worker, before the workers do: its start
  // may not run beside them. A batch of BMPs alone does not pay for it.
  bool needsVips = photoOptions.framing.sizeW > 0 || !options.outputExtension.empty();
  for (const Job& job : plan) {
    needsVips =
        needsVips || (job.refused.empty() &&
                      photo::FormatOfName(job.name.filename().string()) != photo::Format::kBMP);
  }
  std::string vipsError;
  if (needsVips && photo::BuiltWithVips() && !photo::StartPhotoLayer(1, vipsError)) {
    std::fprintf(stderr, "bmpface batch: %s\n", vipsError.c_str());
  }

  JobSettings settings;
  settings.resume = resume;
  settings.photo = &photoOptions;
  settings.inputs = &inputs;
  settings.out = options.out;
  settings.reject = options.reject;
  settings.earlier = &earlier;
  Recorder recorder(plan.size(), !noProgress && StderrIsTerminal(),
                    reportPath.empty() ? nullptr : &report);
  RunJobs(plan, settings, jobs, recorder);
  int status = recorder.Finish(StopSignal());
  std::string error;
  // A line that could not be written was reported when it happened; the close is reported only
  // when it is the first loss.
  if (!CloseReport(report, error) || !recorder.ReportError().empty()) {
    if (recorder.ReportError().empty()) Fail(kExitReportLost, error);
    if (StopSignal() == 0) status = kExitReportLost;
  }
  return status;
}

}  // namespace bmpface::cli
