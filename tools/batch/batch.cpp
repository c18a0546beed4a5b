// bmpface batch: the face crop of many pictures, several requests at once. The command line is
// read here, the batch prepared and run; planning is in plan.cpp, one picture's work in job.cpp,
// writing in write.cpp, the report in report.cpp, the workers in runner.cpp.
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
#include "outcomes.h"
#include "photo/format.h"
#include "photo/options.h"
#include "photo/photo.h"
#include "sys/process.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

// The batch's command line.
struct BatchArgs {
  std::vector<std::string> paths;
  std::string from, reportPath, shard, base;
  PlanOptions plan;
  photo::PhotoOptions photo;
  int jobs = sys::CoreCount();
  bool resume = false, noProgress = false, nulSeparated = false;
};

// What a batch works on once it is checked.
struct Prepared {
  InputSet inputs;
  std::vector<Job> plan;
  std::map<std::string, FaceRect> earlier;
  Report report;
};

int Fail(CommandEnd end, const std::string& message) {
  std::fprintf(stderr, "bmpface batch: %s\n", message.c_str());
  return FactsOf(end).exitCode;
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

std::string BatchHelp() {
  return "Crops the face of many pictures: each crop goes to the output folder under the "
         "picture's name (pictures found in a folder keep their place below it). Never overwrites "
         "an input; a failed picture does not stop the batch. SIGINT or SIGTERM stop it after the "
         "pictures in hand.\n" +
         ExitStatusHelp({HelpOf(CommandEnd::kBatchClean), HelpOf(CommandEnd::kBatchFailed),
                         HelpOf(CommandEnd::kUsage), HelpOf(CommandEnd::kNoList),
                         HelpOf(CommandEnd::kCantCreate), HelpOf(CommandEnd::kReportLost),
                         StopSignalHelp()});
}

// Reads the command line into `a`. Returns -1 to go on, or the exit status.
int ParseBatch(int argc, char** argv, BatchArgs& a) {
  CLI::App app{BatchHelp(), "bmpface batch"};
  app.add_option("paths", a.paths,
                 "pictures, and folders searched at any depth for the pictures this build reads "
                 "(by extension, then by content)");
  app.add_option("--from", a.from,
                 "also take paths from FILE, one a line (- reads standard input)");
  app.add_flag("-0,--null", a.nulSeparated,
               "with --from: paths end with NUL bytes, as find -print0 writes them");
  app.add_option("--base", a.base,
                 "name each output by the picture's path below DIR (for listed paths and several "
                 "folders); pictures outside DIR are refused");
  app.add_option("-o,--out", a.plan.out, "folder for the crops (made when missing)")->required();
  app.add_option(
      "--reject", a.plan.reject,
      "copy the pictures without a face (or unverified, with --verify) into this folder");
  app.add_option("--report", a.reportPath,
                 "write one JSON line per picture (path, status, rectangle, output) to FILE, or to "
                 "standard output with -; with --resume it is appended to");
  photo::AddWholeNumber(app, "-j,--jobs", a.jobs, 1, 1024,
                        "requests at once (default: the number of cores); each may hold up to "
                        "about 4 bytes a pixel of the --max-pixels limit");
  app.add_flag("--resume", a.resume, "skip pictures whose crop or reject copy already exists");
  app.add_option("--shard", a.shard,
                 "K/N: only the K-th (0 to N-1) of N disjoint shares of the pictures, chosen by a "
                 "hash of each path as given");
  app.add_flag("--no-progress", a.noProgress, "no progress line, even on a terminal");
  photo::AddPhotoOptions(app, a.photo);
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    if (a.paths.empty() && a.from.empty()) {
      throw CLI::ValidationError("no pictures: give paths or --from");
    }
    for (const auto& [name, value] : {std::pair{"--out", &a.plan.out},
                                      {"--reject", &a.plan.reject},
                                      {"--report", &a.reportPath},
                                      {"--base", &a.base},
                                      {"--from", &a.from}}) {
      if (app.count(name) > 0 && value->empty()) {
        throw CLI::ValidationError(std::string(name) + " needs a non-empty value");
      }
    }
    if (a.nulSeparated && a.from.empty()) throw CLI::ValidationError("-0 needs --from");
    if (!a.shard.empty() && !ParseShard(a.shard, a.plan.shardK, a.plan.shardN)) {
      throw CLI::ValidationError("--shard: expected K/N with 0 <= K < N");
    }
    photo::CheckOutputSize(a.photo, a.photo.format);
  });
  if (parsed < 0 && a.photo.format != photo::Format::kUnknown) {
    a.plan.outputExtension = photo::FormatExtension(a.photo.format);
  }
  return parsed;
}

// The pictures the paths and the list name, the output folders made. Returns -1 to go on, or the
// exit status.
int FindAll(const BatchArgs& a, std::vector<Found>& found) {
  std::vector<Listed> listed;
  for (const std::string& arg : a.paths) listed.push_back({arg, ""});
  if (!a.from.empty() && !ReadList(a.from, a.nulSeparated ? '\0' : '\n', listed)) {
    return Fail(CommandEnd::kNoList, "cannot read the list " + a.from);
  }
  std::vector<fs::path> folders;
  for (const std::string* dir : {&a.plan.out, &a.plan.reject}) {
    if (dir->empty()) continue;
    std::error_code ec;
    fs::create_directories(*dir, ec);
    if (!fs::is_directory(*dir, ec)) {
      return Fail(CommandEnd::kCantCreate,
                  "cannot create the folder " + *dir + (ec ? ": " + ec.message() : std::string()));
    }
    folders.emplace_back(*dir);
  }
  std::set<std::string> seen;
  for (const Listed& entry : listed) {
    if (!seen.insert(entry.path).second) continue;
    if (entry.refused.empty()) {
      FindPictures(entry.path, folders, a.base, found);
    } else {
      found.push_back({entry.path, {}, entry.refused});
    }
  }
  return -1;
}

// Every folder a crop or copy goes to: a killed run's leftovers removed, and checked writable
// before the first picture, so that a folder that cannot be written ends the batch at once.
int CheckFolders(const BatchArgs& a, const std::vector<Job>& plan) {
  std::set<std::pair<std::string, fs::path>> targets;
  for (const Job& job : plan) {
    if (!job.refused.empty()) continue;
    targets.insert({a.plan.out, job.outputName.parent_path()});
    if (!a.plan.reject.empty()) targets.insert({a.plan.reject, job.name.parent_path()});
  }
  size_t stale = 0;
  for (const auto& [root, folder] : targets) {
    std::string error;
    if (!CheckWritable(root, folder, error)) return Fail(CommandEnd::kCantCreate, error);
    stale += RemoveStaleTemporaries(root, folder);
  }
  if (stale > 0) {
    std::fprintf(stderr, "bmpface batch: removed %zu temporary file%s left by an interrupted run\n",
                 stale, stale == 1 ? "" : "s");
  }
  return -1;
}

// Plans the batch and checks everything it will write before the first picture. Returns -1 to go
// on, or the exit status.
int PrepareBatch(const BatchArgs& a, Prepared& p) {
  // Every machine of a sharded batch plans the whole list the same way, so the refusals (two
  // pictures wanting one output name) do not depend on the shares.
  std::vector<Found> found;
  if (const int status = FindAll(a, found); status >= 0) return status;
  for (const Found& f : found) p.inputs.Add(f.input);
  p.plan = PlanJobs(found, a.plan);
  if (!a.plan.reject.empty()) {
    PlanOptions whole = a.plan;
    whole.shardK = 0;
    whole.shardN = 1;
    const std::string clash = SharedWritePath(PlanJobs(found, whole));
    if (!clash.empty()) return Fail(CommandEnd::kUsage, clash);
  }
  const std::string conflict = ReportConflict(a.reportPath, p.inputs, p.plan);
  if (!a.reportPath.empty() && !conflict.empty()) return Fail(CommandEnd::kUsage, conflict);
  if (const int status = CheckFolders(a, p.plan); status >= 0) return status;
  if (a.resume) p.earlier = EarlierRects(a.reportPath);
  std::string error;
  if (!a.reportPath.empty() && !OpenReport(a.reportPath, a.resume, p.report, error)) {
    return Fail(CommandEnd::kCantCreate, error);
  }
  return -1;
}

// libvips starts once, with one thread of its own per worker, before the workers do: its start
// may not run beside them. A batch of BMPs alone does not pay for it.
void StartPhotoLayerIfNeeded(const BatchArgs& a, const std::vector<Job>& plan) {
  bool needsVips = a.photo.framing.sizeW > 0 || !a.plan.outputExtension.empty();
  for (const Job& job : plan) {
    needsVips =
        needsVips || (job.refused.empty() &&
                      photo::FormatOfName(job.name.filename().string()) != photo::Format::kBMP);
  }
  std::string vipsError;
  if (needsVips && photo::BuiltWithVips() && !photo::StartPhotoLayer(1, vipsError)) {
    std::fprintf(stderr, "bmpface batch: %s\n", vipsError.c_str());
  }
}

// Runs the prepared batch and returns its exit status.
int RunPrepared(const BatchArgs& a, Prepared& p) {
  StartPhotoLayerIfNeeded(a, p.plan);
  JobSettings settings;
  settings.resume = a.resume;
  settings.photo = &a.photo;
  settings.inputs = &p.inputs;
  settings.out = a.plan.out;
  settings.reject = a.plan.reject;
  settings.earlier = &p.earlier;
  Recorder recorder(p.plan.size(), !a.noProgress && sys::StderrIsTerminal(),
                    a.reportPath.empty() ? nullptr : &p.report);
  RunJobs(p.plan, settings, a.jobs, recorder);
  int status = recorder.Finish(StopSignal());
  std::string error;
  // A line that could not be written was reported when it happened; the close is reported only
  // when it is the first loss.
  if (!CloseReport(p.report, error) || !recorder.ReportError().empty()) {
    if (recorder.ReportError().empty()) Fail(CommandEnd::kReportLost, error);
    if (StopSignal() == 0) status = FactsOf(CommandEnd::kReportLost).exitCode;
  }
  return status;
}

}  // namespace

int RunBatch(int argc, char** argv) {
  StopOnSignals();  // first, so that no signal finds the batch without its handler
  BatchArgs args;
  if (const int status = ParseBatch(argc, argv, args); status >= 0) return status;
  Prepared prepared;
  if (const int status = PrepareBatch(args, prepared); status >= 0) return status;
  return RunPrepared(args, prepared);
}

}  // namespace bmpface::cli
