// The parts of the tools' file calls that are the same on every system, over sys/calls.h.
#include "sys/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "sys/calls.h"

namespace bmpface::sys {

int OpenRegular(const std::string& path, std::string& error) {
  const int fd = calls::OpenForReading(path.c_str());
  if (fd < 0) {
    error = std::generic_category().message(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) {
    error = "not a regular file";
    CloseFile(fd);
    return -1;
  }
  return fd;
}

PathKind KindOf(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return PathKind::kMissing;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if ((st.st_mode & S_IFMT) == S_IFREG) return PathKind::kRegular;
  return (st.st_mode & S_IFMT) == S_IFDIR ? PathKind::kFolder : PathKind::kOther;
}

bool ReadFull(int fd, char* buffer, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
    const long long n = calls::Read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFull(int fd, const char* data, size_t size) {
  while (size > 0) {
    const long long n = calls::Write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SkipAhead(int fd, uint64_t bytes) {
  if (bytes > static_cast<uint64_t>(INT64_MAX)) {
    errno = EFBIG;
    return false;
  }
  return calls::SeekAhead(fd, static_cast<int64_t>(bytes));
}

bool SetSize(int fd, uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    errno = EFBIG;
    return false;
  }
  return calls::Truncate(fd, static_cast<int64_t>(size));
}

std::FILE* StreamOver(int fd, const char* mode) {
  const int copy = calls::Duplicate(fd);
  std::FILE* file = copy >= 0 ? calls::Stream(copy, mode) : nullptr;
  if (file == nullptr) {
    const int reason = errno;
    if (copy >= 0) CloseFile(copy);
    errno = reason;
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace bmpface::sys
