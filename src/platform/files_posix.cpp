// The file layer's system part on POSIX systems.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/system_files.h"

namespace bmpface {

// Scatter or gather rows with readv/writev, a batch of rows per call. The stream is unbuffered,
// so its descriptor's position is the stream's.
int TransferRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp,
                 bool write) {
  constexpr size_t kBatch = 64;
  if (rowBytes == 0 || rowCount == 0) return 1;
  // A call may move at most SSIZE_MAX bytes; rows are at most INT32_MAX bytes.
  const size_t perCall = rowBytes > static_cast<size_t>(SSIZE_MAX) / kBatch
                             ? static_cast<size_t>(SSIZE_MAX) / rowBytes
                             : kBatch;
  const int fd = fileno(file);
  iovec parts[kBatch];
  size_t next = 0;  // first file row not yet in a batch
  while (next < rowCount) {
    int used = 0;
    for (; used < static_cast<int>(perCall) && next < rowCount; ++used, ++next) {
      parts[used].iov_base = FileRow(rows, rowBytes, rowCount, bottomUp, next);
      parts[used].iov_len = rowBytes;
    }
    iovec* part = parts;
    while (used > 0) {
      const ssize_t moved = write ? writev(fd, part, used) : readv(fd, part, used);
      if (moved < 0 && errno == EINTR) continue;
      if (moved <= 0) return 0;  // an error, or the file ended early
      // Step over what was moved; a short transfer resumes inside its row.
      size_t left = static_cast<size_t>(moved);
      while (used > 0 && left >= part->iov_len) {
        left -= part->iov_len;
        ++part;
        --used;
      }
      if (used > 0) {
        part->iov_base = static_cast<uint8_t*>(part->iov_base) + left;
        part->iov_len -= left;
      }
    }
  }
  return 1;
}

namespace {

int Identify(int result, const struct stat& st, FileIdentity& id) {
  if (result != 0) return 0;
  id.regular = S_ISREG(st.st_mode);
  id.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return 1;
}

}  // namespace

int PlatformSeek(PlatformFile* file, uint64_t offset) {
  const off_t target = static_cast<off_t>(offset);
  if (target < 0 || static_cast<uint64_t>(target) != offset) return 0;
  return fseeko(file, target, SEEK_SET) == 0 ? 1 : 0;
}

int IdentifyOpenFile(PlatformFile* file, FileIdentity& id) {
  struct stat st;
  return Identify(fstat(fileno(file), &st), st, id);
}

int IdentifyPath(const char* path, FileIdentity& id) {
  struct stat st;
  return Identify(stat(path, &st), st, id);
}

}  // namespace bmpface
#endif  // !_WIN32
