// bmpface batch: the face crop of many pictures, several requests at once.
//
// Each worker runs the export's pipeline itself (LoadBMP, DetectFace, ExtractFaceRegion, SaveBMP)
// rather than calling BMPFaceExtract, so that the rectangle for the report comes from the one
// detection that made the crop, and prints the export's own message lines word for word. The crop
// is written under a temporary name and renamed into place, so an output that exists is always
// whole: --resume may trust it.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "api/messages.h"
#include "cli_common.h"
#include "detect/face_search.h"
#include "image/bmp_image.h"
#include "image/crop.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

// kExitOk and kExitUsage as in the other modes; the rest are batch's own.
constexpr int kExitSomeFailed = 1;
constexpr int kExitNoInput = 66;     // the --from list cannot be read
constexpr int kExitCantCreate = 73;  // an output folder or the report cannot be created


enum class Status {
  kDone,
  kNoFace,
  kSkipped,
  kLoadFailed,
  kExtractFailed,
  kSaveFailed,
  kRefused,
  kRejectFailed
};

const char* StatusName(Status status) {
  switch (status) {
    case Status::kDone:
      return "done";
    case Status::kNoFace:
      return "no_face";
    case Status::kSkipped:
      return "skipped";
    case Status::kLoadFailed:
      return "load_failed";
    case Status::kExtractFailed:
      return "extract_failed";
    case Status::kSaveFailed:
      return "save_failed";
    case Status::kRefused:
      return "refused";
    case Status::kRejectFailed:
      return "reject_failed";
  }
  return "?";
}

bool IsFailure(Status status) {
  return status != Status::kDone && status != Status::kNoFace && status != Status::kSkipped;
}

// The export's line for a request that ended with `status`, or null where it prints none.
const char* LibraryLine(Status status) {
  switch (status) {
    case Status::kNoFace:
    case Status::kRejectFailed:  // a picture without a face whose copy failed
      return StatusMessage(BMPFACE_NO_FACE);
    case Status::kExtractFailed:
      return StatusMessage(BMPFACE_EXTRACT_FAILED);
    case Status::kSaveFailed:
      return StatusMessage(BMPFACE_SAVE_FAILED);
    default:
      return nullptr;
  }
}

struct Job {
  std::string input;
  std::string output;
  std::string reject;   // empty without --reject
  std::string refused;  // why the picture is not run at all; empty when it is
};

struct Outcome {
  Status status = Status::kDone;
  FaceRect rect{};
  std::string written;  // the crop or the reject copy; empty when nothing was written
  std::string error;    // for failures: why, in words
};

// The same 64-bit FNV-1a on every machine and in every run, so shares are stable.
uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

int CoreCount() {
#ifdef __linux__
  // The cores this process may use: a container or taskset can allow fewer than the machine has.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

bool IsBMPName(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".bmp";
}

// A picture to do: its path as given or found, and its name below the output folder.
struct Found {
  std::string input;
  fs::path name;
  std::string refused;
};

// The pictures named by `arg`: the path itself, or every *.bmp file below a folder in name order,
// leaving out the folders in `skip` (the output folders, which may hold crops of an earlier run).
void Expand(const std::string& arg, const std::vector<fs::path>& skip, std::vector<Found>& out) {
  std::error_code ec;
  if (!fs::is_directory(arg, ec)) {
    out.push_back({arg, fs::path(arg).filename(), ""});
    return;
  }
  // Names below the folder; a trailing separator in `arg` would spoil lexically_relative.
  std::string base = arg;
  while (base.size() > 1 && (base.back() == '/' || base.back() == fs::path::preferred_separator)) {
    base.pop_back();
  }
  std::vector<Found> found;
  fs::recursive_directory_iterator it(arg, fs::directory_options::skip_permission_denied, ec);
  std::string error = ec ? ec.message() : "";
  for (const fs::recursive_directory_iterator end; !ec && it != end;) {
    const fs::path path = it->path();
    std::error_code ignored;
    if (it->is_directory(ignored)) {
      for (const fs::path& s : skip) {
        if (fs::equivalent(path, s, ignored)) it.disable_recursion_pending();
      }
    } else if (it->is_regular_file(ignored) && IsBMPName(path)) {
      found.push_back({path.string(), path.lexically_relative(base), ""});
    }
    it.increment(ec);
    if (ec) error = ec.message();
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.input < b.input; });
  out.insert(out.end(), found.begin(), found.end());
  if (!error.empty()) out.push_back({arg, {}, "cannot read this folder: " + error});
}

// Files that are inputs of the batch, by identity (device and inode, so that another spelling, a
// link or a hard link of an input is still found): a path that names one is never written.
class InputSet {
 public:
  void Add(const std::string& path) {
    Id id;
    if (Identify(path, id)) ids_.insert(id);
  }
  bool Holds(const std::string& path) const {
    Id id;
    return Identify(path, id) && ids_.count(id) != 0;
  }

 private:
#ifdef _WIN32
  // No inode numbers here: the resolved path stands in (hard links go unnoticed).
  using Id = std::string;
  static bool Identify(const std::string& path, Id& id) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return false;
    id = fs::weakly_canonical(path, ec).string();
    return !ec;
  }
#else
  using Id = std::pair<dev_t, ino_t>;
  static bool Identify(const std::string& path, Id& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {st.st_dev, st.st_ino};
    return true;
  }
#endif
  std::set<Id> ids_;
};

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

std::string PartName(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".part")).string();
}

// Writes `image` under a temporary name beside `path` and renames it into place.
bool SaveWhole(const std::string& path, const BMPImage& image) {
  const std::string part = PartName(path);
  if (SaveBMP(part.c_str(), image) == 0) return false;  // SaveBMP removed the partial file
  std::error_code ec;
  fs::rename(part, path, ec);
  if (ec) fs::remove(part, ec);
  return !ec;
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

struct Settings {
  bool resume = false;
  InputSet inputs;
};

Outcome RunJob(const Job& job, const Settings& settings) {
  Outcome o;
  if (!job.refused.empty()) {
    o.status = Status::kRefused;
    o.error = job.refused;
    return o;
  }
  for (const std::string* target : {&job.output, &job.reject}) {
    if (target->empty()) continue;
    if (settings.inputs.Holds(*target) || settings.inputs.Holds(PartName(*target))) {
      o.status = Status::kRefused;
      o.error = "writing " + *target + " would replace an input";
      return o;
    }
  }
  std::error_code ec;
  if (settings.resume &&
      (fs::exists(job.output, ec) || (!job.reject.empty() && fs::exists(job.reject, ec)))) {
    o.status = Status::kSkipped;
    o.written = fs::exists(job.output, ec) ? job.output : job.reject;
    return o;
  }

  BMPImage source;
  if (LoadBMP(job.input.c_str(), source) == 0) {
    o.status = Status::kLoadFailed;
    o.error = "missing, unreadable, or not a 24- or 32-bit BMP picture";
    return o;
  }
  if (DetectFace(source, o.rect) == 0) {
    FreeBMP(source);
    o.status = Status::kNoFace;
    if (!job.reject.empty()) {
      if (CopyWhole(job.input, job.reject)) {
        o.written = job.reject;
      } else {
        o.status = Status::kRejectFailed;
        o.error = "cannot copy to " + job.reject;
      }
    }
    return o;
  }
  BMPImage crop;
  const int extracted = ExtractFaceRegion(source, o.rect, crop);
  FreeBMP(source);
  if (extracted == 0) {
    o.status = Status::kExtractFailed;
    o.error = "no memory for the crop";
    return o;
  }
  const bool saved = SaveWhole(job.output, crop);
  FreeBMP(crop);
  if (!saved) {
    o.status = Status::kSaveFailed;
    o.error = "cannot write " + job.output;
    return o;
  }
  o.written = job.output;
  return o;
}

// Everything the batch prints, and its counts. One lock covers all of it, and every line is
// handed to its stream in one call, so lines from concurrent requests never mix; the progress
// line is taken down before any other line and drawn again after it.
class Recorder {
 public:
  Recorder(size_t total, bool progress, std::FILE* report)
      : total_(total),
        progress_(progress),
        report_(report),
        start_(std::chrono::steady_clock::now()) {}

  void Record(const Job& job, const Outcome& o) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++handled_;
    switch (o.status) {
      case Status::kDone:
        ++done_;
        break;
      case Status::kNoFace:
        ++noFace_;
        break;
      case Status::kSkipped:
        ++skipped_;
        break;
      default:
        ++failed_;
        break;
    }
    const char* libraryLine = LibraryLine(o.status);
    const bool failure = IsFailure(o.status);
    if (libraryLine != nullptr || failure) {
      TakeDownBar();
      if (libraryLine != nullptr) {
        std::fputs(libraryLine, stdout);
        std::fflush(stdout);
      }
      if (failure) {
        std::fputs(("bmpface: " + job.input + ": " + o.error + "\n").c_str(), stderr);
      }
    }
    if (report_ != nullptr) {
      std::string line =
          "{\"path\":" + JsonString(job.input) + ",\"status\":\"" + StatusName(o.status) + "\"";
      if (o.status == Status::kDone) {
        line += ",\"x\":" + std::to_string(o.rect.x) + ",\"y\":" + std::to_string(o.rect.y) +
                ",\"width\":" + std::to_string(o.rect.width) +
                ",\"height\":" + std::to_string(o.rect.height);
      }
      line += ",\"output\":" + (o.written.empty() ? std::string("null") : JsonString(o.written));
      if (failure) line += ",\"error\":" + JsonString(o.error);
      line += "}\n";
      // Flushed per line: an interrupted batch keeps the record of what it did.
      std::fputs(line.c_str(), report_);
      std::fflush(report_);
    }
    DrawBar(libraryLine != nullptr || failure);
  }

  // Takes down the progress line and prints the summary. Returns the exit status.
  int Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeDownBar();
    const double seconds = Seconds();
    const size_t worked = handled_ - skipped_;
    char line[256];
    std::snprintf(line, sizeof line,
                  "bmpface batch: %zu pictures: %zu done, %zu no face, %zu failed, %zu skipped "
                  "in %.2f s (%.1f pictures/s)\n",
                  handled_, done_, noFace_, failed_, skipped_, seconds,
                  seconds > 0 ? static_cast<double>(worked) / seconds : 0.0);
    std::fputs(line, stdout);
    std::fflush(stdout);
    return failed_ == 0 ? kExitOk : kExitSomeFailed;
  }

 private:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  void TakeDownBar() {
    if (!progress_ || !barShown_) return;
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
  }

  // Redraws at most ten times a second, and always after another line or at the last picture.
  void DrawBar(bool force) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && handled_ != total_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    const double seconds = Seconds();
    const size_t worked = handled_ - skipped_;
    const double rate = seconds > 0 ? static_cast<double>(worked) / seconds : 0.0;
    const double left = rate > 0 ? static_cast<double>(total_ - handled_) / rate : 0.0;
    constexpr size_t kWidth = 24;
    const size_t filled = total_ == 0 ? kWidth : handled_ * kWidth / total_;
    char line[160];
    std::snprintf(line, sizeof line, "\r[%s%s] %zu/%zu %3zu%%  %.1f/s  %d:%02d left\033[K",
                  std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                  handled_, total_, total_ == 0 ? 100 : handled_ * 100 / total_, rate,
                  static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    std::fputs(line, stderr);
    barShown_ = true;
  }

  std::mutex mutex_;
  const size_t total_;
  const bool progress_;
  std::FILE* const report_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool barShown_ = false;
  size_t handled_ = 0, done_ = 0, noFace_ = 0, skipped_ = 0, failed_ = 0;
};

bool ParseShard(const std::string& text, uint64_t& k, uint64_t& n) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return false;
  const std::string a = text.substr(0, slash), b = text.substr(slash + 1);
  const auto digits = [](const std::string& s) {
    return s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  };
  if (!digits(a) || !digits(b)) return false;
  k = std::stoull(a);
  n = std::stoull(b);
  return n > 0 && k < n;
}

bool ReadList(const std::string& from, std::vector<std::string>& paths) {
  std::ifstream file;
  if (from != "-") {
    file.open(from);
    if (!file) return false;
  }
  std::istream& in = from == "-" ? std::cin : file;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return !in.bad();
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
  std::string from, out, reject, reportPath, shard;
  int jobs = CoreCount();
  bool resume = false, noProgress = false;
  app.add_option("paths", args, "pictures, and folders searched for *.bmp files at any depth");
  app.add_option("--from", from, "also take paths from FILE, one a line (- reads standard input)");
  app.add_option("-o,--out", out, "folder for the crops (created when missing)")->required();
  app.add_option("--reject", reject, "copy the pictures without a face into this folder");
  app.add_option("--report", reportPath,
                 "write one JSON line per picture: path, status, rectangle, output");
  app.add_option("-j,--jobs", jobs, "requests at once (default: the number of cores)")
      ->check(CLI::Range(1, 1024));
  app.add_flag("--resume", resume, "skip pictures whose crop or reject copy already exists");
  app.add_option("--shard", shard,
                 "K/N: only the K-th (0 to N-1) of N disjoint shares of the pictures, chosen by a "
                 "hash of each path as given");
  app.add_flag("--no-progress", noProgress, "no progress line, even on a terminal");
  uint64_t shardK = 0, shardN = 1;
  try {
    app.parse(argc, argv);
    if (args.empty() && from.empty()) {
      throw CLI::ValidationError("no pictures: give paths or --from");
    }
    if (!shard.empty() && !ParseShard(shard, shardK, shardN)) {
      throw CLI::ValidationError("--shard: expected K/N with 0 <= K < N");
    }
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : kExitUsage;
  }

  if (!from.empty() && !ReadList(from, args)) {
    std::fprintf(stderr, "bmpface batch: cannot read the list %s\n", from.c_str());
    return kExitNoInput;
  }
  std::vector<fs::path> folders;
  for (const std::string* dir : {&out, &reject}) {
    if (dir->empty()) continue;
    std::error_code ec;
    fs::create_directories(*dir, ec);
    if (!fs::is_directory(*dir, ec)) {
      std::fprintf(stderr, "bmpface batch: cannot create the folder %s\n", dir->c_str());
      return kExitCantCreate;
    }
    folders.emplace_back(*dir);
  }

  // Every machine of a sharded batch plans the whole list the same way, so the refusals (two
  // pictures wanting one output name) do not depend on the shares.
  std::vector<Found> found;
  std::set<std::string> seen;
  for (const std::string& arg : args) {
    if (seen.insert(arg).second) Expand(arg, folders, found);
  }
  Settings settings;
  settings.resume = resume;
  std::map<std::string, std::string> owners;  // output name -> the input that has it
  std::vector<Job> plan;
  for (const Found& f : found) {
    Job job{f.input, "", "", f.refused};
    settings.inputs.Add(f.input);
    if (job.refused.empty() && f.name.empty()) job.refused = "names no file";
    if (job.refused.empty()) {
      job.output = (fs::path(out) / f.name).lexically_normal().string();
      if (!reject.empty()) job.reject = (fs::path(reject) / f.name).lexically_normal().string();
      const auto [owner, isNew] = owners.emplace(job.output, f.input);
      if (!isNew) job.refused = "same output name as " + owner->second;
    }
    if (Fnv1a(f.input) % shardN == shardK) plan.push_back(std::move(job));
  }
  for (const Job& job : plan) {
    std::error_code ec;
    if (!job.output.empty()) fs::create_directories(fs::path(job.output).parent_path(), ec);
    if (!job.reject.empty()) fs::create_directories(fs::path(job.reject).parent_path(), ec);
  }

  std::FILE* report = nullptr;
  if (!reportPath.empty()) {
    report = settings.inputs.Holds(reportPath) ? nullptr : std::fopen(reportPath.c_str(), "w");
    if (report == nullptr) {
      std::fprintf(stderr, "bmpface batch: cannot create the report %s\n", reportPath.c_str());
      return kExitCantCreate;
    }
  }

  Recorder recorder(plan.size(), !noProgress && StderrIsTerminal(), report);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < plan.size();) {
      recorder.Record(plan[i], RunJob(plan[i], settings));
    }
  };
  std::vector<std::thread> pool;
  const size_t threads =
      std::min<size_t>(static_cast<size_t>(jobs), std::max<size_t>(plan.size(), 1));
  for (size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the ones running take the rest
    }
  }
  work();
  for (std::thread& t : pool) t.join();
  const int status = recorder.Finish();
  if (report != nullptr && std::fclose(report) != 0) {
    std::fprintf(stderr, "bmpface batch: the report %s is incomplete\n", reportPath.c_str());
    return kExitSomeFailed;
  }
  return status;
}

}  // namespace bmpface::cli
