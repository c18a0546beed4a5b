// bmpface batch: the face crop of many pictures, several requests at once. The command line is
// read here; planning is in plan.cpp, one picture's work in job.cpp, the workers in runner.cpp.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "batch/job.h"
#include "batch/plan.h"
#include "batch/runner.h"
#include "command.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

constexpr int kExitNoInput = 66;     // the --from list cannot be read
constexpr int kExitCantCreate = 73;  // an output folder or the report cannot be created

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

}  // namespace

int RunBatch(int argc, char** argv) {
  CLI::App app{
      "Crops the face of many pictures: each crop goes to the output folder under the picture's "
      "name (pictures found in a folder keep their place below it). Never overwrites an input; a "
      "failed picture does not stop the batch.\n"
      "Exit status: 0 no picture failed (some may have no face), 1 some failed, 64 wrong command "
      "line, 66 the --from list cannot be read, 73 a folder or the report cannot be created.",
      "bmpface batch"};
  std::vector<std::string> args;
  std::string from, reportPath, shard;
  PlanOptions options;
  int jobs = CoreCount();
  bool resume = false, noProgress = false;
  app.add_option("paths", args, "pictures, and folders searched for *.bmp files at any depth");
  app.add_option("--from", from, "also take paths from FILE, one a line (- reads standard input)");
  app.add_option("-o,--out", options.out, "folder for the crops (created when missing)")
      ->required();
  app.add_option("--reject", options.reject, "copy the pictures without a face into this folder");
  app.add_option("--report", reportPath,
                 "write one JSON line per picture: path, status, rectangle, output");
  app.add_option("-j,--jobs", jobs, "requests at once (default: the number of cores)")
      ->check(CLI::Range(1, 1024));
  app.add_flag("--resume", resume, "skip pictures whose crop or reject copy already exists");
  app.add_option("--shard", shard,
                 "K/N: only the K-th (0 to N-1) of N disjoint shares of the pictures, chosen by a "
                 "hash of each path as given");
  app.add_flag("--no-progress", noProgress, "no progress line, even on a terminal");
  const int parsed = ParseCommandLine(app, argc, argv, [&] {
    if (args.empty() && from.empty()) {
      throw CLI::ValidationError("no pictures: give paths or --from");
    }
    if (!shard.empty() && !ParseShard(shard, options.shardK, options.shardN)) {
      throw CLI::ValidationError("--shard: expected K/N with 0 <= K < N");
    }
  });
  if (parsed >= 0) return parsed;

  if (!from.empty() && !ReadList(from, args)) {
    std::fprintf(stderr, "bmpface batch: cannot read the list %s\n", from.c_str());
    return kExitNoInput;
  }
  std::vector<fs::path> folders;
  for (const std::string* dir : {&options.out, &options.reject}) {
    if (dir->empty()) continue;
    std::error_code ec;
    fs::create_directories(*dir, ec);
    if (!fs::is_directory(*dir, ec)) {
      std::fprintf(stderr, "bmpface batch: cannot create the folder %s\n", dir->c_str());
      return kExitCantCreate;
    }
    folders.emplace_back(*dir);
  }

  std::vector<Found> found;
  std::set<std::string> seen;
  for (const std::string& arg : args) {
    if (seen.insert(arg).second) FindPictures(arg, folders, found);
  }
  InputSet inputs;
  for (const Found& f : found) inputs.Add(f.input);
  const std::vector<Job> plan = PlanJobs(found, options);
  for (const Job& job : plan) {
    std::error_code ec;
    if (!job.output.empty()) fs::create_directories(fs::path(job.output).parent_path(), ec);
    if (!job.reject.empty()) fs::create_directories(fs::path(job.reject).parent_path(), ec);
  }

  std::FILE* report = nullptr;
  if (!reportPath.empty()) {
    report = inputs.Holds(reportPath) ? nullptr : std::fopen(reportPath.c_str(), "w");
    if (report == nullptr) {
      std::fprintf(stderr, "bmpface batch: cannot create the report %s\n", reportPath.c_str());
      return kExitCantCreate;
    }
  }

  JobSettings settings;
  settings.resume = resume;
  settings.inputs = &inputs;
  Recorder recorder(plan.size(), !noProgress && StderrIsTerminal(), report);
  RunJobs(plan, settings, jobs, recorder);
  const int status = recorder.Finish();
  if (report != nullptr && std::fclose(report) != 0) {
    std::fprintf(stderr, "bmpface batch: the report %s is incomplete\n", reportPath.c_str());
    return 1;
  }
  return status;
}

}  // namespace bmpface::cli
