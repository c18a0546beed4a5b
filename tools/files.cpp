#include "files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "sys/files.h"

namespace bmpface::cli {

std::string LoadFailureReason(const std::string& path) {
  if (path.empty()) return "an empty path";
  switch (sys::KindOf(path)) {
    case sys::PathKind::kMissing:
      return std::generic_category().message(errno);
    case sys::PathKind::kFolder:
      return "a folder, not a picture";
    case sys::PathKind::kOther:
      return "not a regular file (a FIFO or a device?)";
    case sys::PathKind::kRegular:
      break;
  }
  if (const int reason = sys::ReadAccess(path)) return std::generic_category().message(reason);
  return "not a 24- or 32-bit BMP picture, or cut short";
}

std::string FailureReason(Outcome outcome, const std::string& input, const std::string& said) {
  if (!said.empty()) return said;
  if (outcome == Outcome::kLoadFailed) return LoadFailureReason(input);
  const char* reason = FactsOf(outcome).reason;
  return reason != nullptr ? reason : "";
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace bmpface::cli
