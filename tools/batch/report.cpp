#include "batch/report.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "json.h"

namespace bmpface::cli {
namespace {

std::string Reason(int code) { return std::generic_category().message(code); }

// The bytes that `hex` (as Hex writes them) stands for; empty when it is not such a string.
std::string FromHex(const std::string& hex) {
  auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string out;
  if (hex.size() % 2 != 0) return out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out += static_cast<char>(hi << 4 | lo);
  }
  return out;
}

}  // namespace

bool OpenReport(const std::string& path, bool append, Report& report, std::string& error) {
  report.path = path;
  if (path == "-") {
    report.file = stdout;
    report.toStdout = true;
    return true;
  }
#ifdef _WIN32
  report.file = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (report.file == nullptr) error = "cannot open the report " + path + ": " + Reason(errno);
  return report.file != nullptr;
#else
  const int fd = open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!append && ftruncate(fd, 0) != 0)) {
    const bool link = fd < 0 && errno == ELOOP;
    error = "cannot open the report " + path + ": " +
            (link                              ? std::string("it is a link")
             : fd >= 0 && !S_ISREG(st.st_mode) ? std::string("not a regular file")
                                               : Reason(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  report.device = st.st_dev;
  report.inode = st.st_ino;
  report.file = fdopen(fd, append ? "a" : "w");
  if (report.file == nullptr) {
    error = "cannot open the report " + path + ": " + Reason(errno);
    close(fd);
    return false;
  }
  return true;
#endif
}

bool CloseReport(Report& report, std::string& error) {
  if (report.file == nullptr) return true;
  bool ok = std::fflush(report.file) == 0 && std::ferror(report.file) == 0;
  int reason = ok ? 0 : errno;
  if (report.toStdout) {
    report.file = nullptr;
  } else {
#ifndef _WIN32
    struct stat st;
    if (ok && (stat(report.path.c_str(), &st) != 0 || st.st_dev != report.device ||
               st.st_ino != report.inode)) {
      error = "the report " + report.path + " is gone from its place: its lines are lost";
      std::fclose(report.file);
      report.file = nullptr;
      return false;
    }
#endif
    if (std::fclose(report.file) != 0 && ok) {
      ok = false;
      reason = errno;
    }
    report.file = nullptr;
  }
  if (!ok) error = "cannot write the report " + report.path + ": " + Reason(reason);
  return ok;
}

std::map<std::string, FaceRect> EarlierRects(const std::string& path) {
  std::map<std::string, FaceRect> rects;
  if (path.empty() || path == "-") return rects;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object()) continue;
    const auto text = [&](const char* key) {
      const auto it = object.find(key);
      return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    const auto number = [&](const char* key, int32_t& value) {
      const auto it = object.find(key);
      if (it == object.end() || !it->is_number_integer()) return false;
      value = it->get<int32_t>();
      return true;
    };
    FaceRect rect{};
    if (!number("x", rect.x) || !number("y", rect.y) || !number("width", rect.width) ||
        !number("height", rect.height)) {
      continue;
    }
    const std::string hex = text("path_hex");
    rects[hex.empty() ? text("path") : FromHex(hex)] = rect;
  }
  return rects;
}

std::string ReportLine(const Job& job, const JobResult& r) {
  JsonLine line;
  line.Name("path", job.input).String("status", JobWord(r));
  if (r.hasRect) line.Rect(r.rect);
  if (r.searched) AddSearchFacts(line, r.facts);
  if (r.checked) AddVerification(line, r.verified, r.verifiedFace);
  if (r.written.empty()) {
    line.Null("output");
  } else {
    line.Name("output", r.written);
  }
  if (JobFailed(r)) line.String("error", r.error);
  return line.Finish();
}

}  // namespace bmpface::cli
