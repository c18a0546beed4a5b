#include "batch/plan.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <system_error>

#include "batch/write.h"
#include "photo/format.h"
#include "photo/photo.h"
#include "sys/files.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

// Formats this build reads: BMP always, the others with libvips.
bool Readable(photo::Format format) {
  return format == photo::Format::kBMP || (photo::BuiltWithVips() && photo::NeedsVips(format));
}

}  // namespace

fs::path NameBelow(const fs::path& path, const fs::path& base) {
  std::error_code ec;
  fs::path from = fs::absolute(base, ec).lexically_normal();
  if (!from.has_filename()) from = from.parent_path();  // "box/" as "box"
  const fs::path name = fs::absolute(path, ec).lexically_normal().lexically_relative(from);
  if (ec || name.empty() || *name.begin() == ".." || name == ".") return {};
  return name;
}

bool IsPictureName(const fs::path& path) {
  return Readable(photo::FormatOfName(path.filename().string()));
}

bool StartsLikePicture(const fs::path& path) {
  std::string ignored;
  const int fd = sys::OpenRegular(path.string(), ignored);
  if (fd < 0) return false;
  char head[photo::kSniffBytes];
  size_t got = 0;
  const bool read = sys::ReadFull(fd, head, sizeof head, got);
  sys::CloseFile(fd);
  return read && got > 0 &&
         Readable(photo::SniffFormat(reinterpret_cast<const uint8_t*>(head), got));
}

void FindPictures(const std::string& arg, const std::vector<fs::path>& skip,
                  const std::string& base, std::vector<Found>& out) {
  // The name below --base, or a refusal.
  const auto named = [&](const fs::path& path, const fs::path& otherwise) {
    if (base.empty()) return Found{path.string(), otherwise, ""};
    const fs::path name = NameBelow(path, base);
    return Found{path.string(), name, name.empty() ? "not below --base " + base : ""};
  };
  std::error_code ec;
  if (!fs::is_directory(arg, ec)) {
    out.push_back(named(arg, fs::path(arg).filename()));
    return;
  }
  // Names below the folder; a trailing separator in `arg` would spoil lexically_relative.
  std::string root = arg;
  while (root.size() > 1 && (root.back() == '/' || root.back() == fs::path::preferred_separator)) {
    root.pop_back();
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
      found.push_back(named(path, path.lexically_relative(root)));
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
    Job job{f.input, f.name.lexically_normal(), {}, "", "", f.refused};
    if (job.refused.empty() && (f.name.empty() || !job.name.has_filename())) {
      job.refused = "names no file";
    }
    if (job.refused.empty() && (job.name.is_absolute() || *job.name.begin() == "..")) {
      job.refused = "its name leaves the output folder";
    }
    if (job.refused.empty() && IsTemporaryName(job.name.filename().string())) {
      job.refused = "its name is kept for the batch's temporary files";
    }
    if (job.refused.empty()) {
      // The crop is named after the picture, in the output format when one is forced; the reject
      // copy is the picture itself and keeps its name.
      job.outputName = job.name;
      if (!options.outputExtension.empty())
        job.outputName.replace_extension(options.outputExtension);
      job.output = (fs::path(options.out) / job.outputName).lexically_normal().string();
      if (!options.reject.empty()) {
        job.reject = (fs::path(options.reject) / job.name).lexically_normal().string();
      }
      const auto [owner, isNew] = owners.emplace(job.output, f.input);
      if (!isNew) job.refused = "same output name as " + owner->second;
    }
    if (Fnv1a(f.input) % options.shardN == options.shardK) plan.push_back(std::move(job));
  }
  return plan;
}

std::string SharedWritePath(const std::vector<Job>& jobs) {
  std::map<fs::path, const Job*> crops;
  std::error_code ec;
  for (const Job& job : jobs) {
    if (job.refused.empty()) crops.emplace(fs::absolute(job.output, ec).lexically_normal(), &job);
  }
  for (const Job& job : jobs) {
    if (!job.refused.empty() || job.reject.empty()) continue;
    const auto crop = crops.find(fs::absolute(job.reject, ec).lexically_normal());
    // A picture's own crop and copy never both happen: it has a face or it has none.
    if (crop != crops.end() && crop->second != &job) {
      return job.reject + " would be both the crop of " + crop->second->input +
             " and the reject copy of " + job.input +
             ": give --reject a folder that is not inside --out (nor --out one inside --reject)";
    }
  }
  return "";
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

bool ReadList(const std::string& from, char separator, std::vector<Listed>& entries) {
  std::ifstream file;
  if (from != "-") {
    file.open(from, std::ios::binary);
    if (!file) return false;
  }
  std::istream& in = from == "-" ? std::cin : file;
  for (std::string entry; std::getline(in, entry, separator);) {
    if (separator == '\n' && !entry.empty() && entry.back() == '\r') entry.pop_back();
    if (entry.empty()) continue;
    if (entry.find('\0') == std::string::npos) {
      entries.push_back({entry, ""});
      continue;
    }
    std::string shown;  // the line as it can be printed: each NUL as \0
    for (const char c : entry) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    entries.push_back(
        {shown, "the list's line holds a NUL byte (use -0 for a NUL-separated list)"});
  }
  return !in.bad();
}

void InputSet::Add(const std::string& path) {
  Id id;
  if (sys::IdentifyPath(path, id)) ids_.insert(id);
  std::pair<Id, std::string> entry;
  if (IdentifyEntry(path, entry)) entries_.insert(entry);
}

bool InputSet::Holds(const std::string& path) const {
  Id id;
  return HoldsEntry(path) || (sys::IdentifyPath(path, id) && ids_.count(id) != 0);
}

bool InputSet::HoldsEntry(const std::string& path) const {
  std::pair<Id, std::string> entry;
  return IdentifyEntry(path, entry) && entries_.count(entry) != 0;
}

bool InputSet::IdentifyEntry(const std::string& path, std::pair<Id, std::string>& entry) {
  const fs::path p(path);
  const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  entry.second = p.filename().string();
  return !entry.second.empty() && sys::IdentifyPath(folder.string(), entry.first);
}

}  // namespace bmpface::cli
