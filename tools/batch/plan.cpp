#include "batch/plan.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <system_error>

#include "photo/format.h"
#include "photo/photo.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

// Formats this build reads: BMP always, the others with libvips.
bool Readable(photo::Format format) {
  return format == photo::Format::kBMP || (photo::BuiltWithVips() && photo::NeedsVips(format));
}

}  // namespace

bool IsPictureName(const fs::path& path) {
  return Readable(photo::FormatOfName(path.filename().string()));
}

bool StartsLikePicture(const fs::path& path) {
#ifdef _WIN32
  std::ifstream file(path, std::ios::binary);
  char head[photo::kSniffBytes];
  file.read(head, sizeof head);
  const size_t got = static_cast<size_t>(file.gcount());
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  char head[photo::kSniffBytes];
  ssize_t n = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n <= 0) return false;
  const size_t got = static_cast<size_t>(n);
#endif
  return Readable(photo::SniffFormat(reinterpret_cast<const uint8_t*>(head), got));
}

void FindPictures(const std::string& arg, const std::vector<fs::path>& skip,
                  std::vector<Found>& out) {
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
    } else if (it->is_regular_file(ignored) && (IsPictureName(path) || StartsLikePicture(path))) {
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

std::vector<Job> PlanJobs(const std::vector<Found>& found, const PlanOptions& options) {
  std::map<std::string, std::string> owners;  // output name -> the input that has it
  std::vector<Job> plan;
  for (const Found& f : found) {
    Job job{f.input, "", "", f.refused};
    if (job.refused.empty() && f.name.empty()) job.refused = "names no file";
    if (job.refused.empty()) {
      fs::path name = f.name;
      if (!options.outputExtension.empty()) name.replace_extension(options.outputExtension);
      job.output = (fs::path(options.out) / name).lexically_normal().string();
      if (!options.reject.empty()) {
        job.reject = (fs::path(options.reject) / f.name).lexically_normal().string();
      }
      const auto [owner, isNew] = owners.emplace(job.output, f.input);
      if (!isNew) job.refused = "same output name as " + owner->second;
    }
    if (Fnv1a(f.input) % options.shardN == options.shardK) plan.push_back(std::move(job));
  }
  return plan;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

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

void InputSet::Add(const std::string& path) {
  Id id;
  if (Identify(path, id)) ids_.insert(id);
}

bool InputSet::Holds(const std::string& path) const {
  Id id;
  return Identify(path, id) && ids_.count(id) != 0;
}

#ifdef _WIN32
bool InputSet::Identify(const std::string& path, Id& id) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return false;
  id = fs::weakly_canonical(path, ec).string();
  return !ec;
}
#else
bool InputSet::Identify(const std::string& path, Id& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}
#endif

}  // namespace bmpface::cli
