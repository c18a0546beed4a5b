#include "files.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace bmpface::cli {

std::string LoadFailureReason(const std::string& path) {
  if (path.empty()) return "an empty path";
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::generic_category().message(errno);
  if ((st.st_mode & S_IFMT) == S_IFDIR) return "a folder, not a picture";
  if ((st.st_mode & S_IFMT) != S_IFREG) return "not a regular file (a FIFO or a device?)";
#ifdef _WIN32
  if (_access(path.c_str(), 4) != 0) return std::generic_category().message(errno);
#else
  if (access(path.c_str(), R_OK) != 0) return std::generic_category().message(errno);
#endif
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
