#include "batch/report.h"

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

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
  report.file = sys::OpenRegularForWriting(path, append, report.id, error);
  if (report.file == nullptr) error = "cannot open the report " + path + ": " + error;
  return report.file != nullptr;
}

bool CloseReport(Report& report, std::string& error) {
  if (report.file == nullptr) return true;
  bool ok = std::fflush(report.file) == 0 && std::ferror(report.file) == 0;
  int reason = ok ? 0 : errno;
  if (report.toStdout) {
    report.file = nullptr;
  } else {
    sys::FileId now;
    if (ok && (!sys::IdentifyPath(report.path, now) || now != report.id)) {
      error = "the report " + report.path + " is gone from its place: its lines are lost";
      std::fclose(report.file);
      report.file = nullptr;
      return false;
    }
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
