// The file layer's system part on POSIX systems.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/system_files.h"

namespace bmpface {

namespace {

// A stream over `fd`, unbuffered: reads and writes are whole headers and rows, and go straight
// between the file and the picture's memory with no copy through (and no hidden allocation of) a
// stream buffer. Closes `fd` when no stream can be made.
PlatformFile* Stream(int fd, const char* mode) {
  PlatformFile* file = fdopen(fd, mode);
  if (file == nullptr) {
    const int reason = errno;
    close(fd);
    errno = reason;
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// Leaves blocking mode once the file has been checked, so that reads and writes wait as usual.
bool Blocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

}  // namespace

PlatformFile* PlatformOpenRead(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer before the type could be seen.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1) return nullptr;
  struct stat st;
  int reason = 0;
  if (fstat(fd, &st) != 0) {
    reason = errno;
  } else if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (!Blocking(fd)) {
    reason = errno;
  }
  if (reason != 0) {
    close(fd);
    errno = reason;
    return nullptr;
  }
  return Stream(fd, "rb");
}

namespace {

// Gives up a file just opened for writing: a file this call created goes again, if `path` still
// names it; errno keeps the reason of the failure.
void Abandon(int fd, const char* path, int& created) {
  const int reason = errno;
  struct stat opened, named;
  if (created == 1 && fstat(fd, &opened) == 0 && lstat(path, &named) == 0 &&
      S_ISREG(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
    unlink(path);
  }
  close(fd);
  created = 0;
  errno = reason;
}

}  // namespace

PlatformFile* PlatformOpenWrite(const char* path, int& created) {
  created = 0;
  if (path == nullptr || path[0] == '\0') return nullptr;
  constexpr int kFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path, kFlags | O_CREAT | O_EXCL, 0666);
  if (fd != -1) {
    created = 1;
  } else if (errno == EEXIST) {
    // There already (or a link, which is followed as it always was: a dangling one still gets
    // its target made, only not by this call's account).
    fd = open(path, kFlags | O_CREAT | O_TRUNC, 0666);
  }
  if (fd == -1) return nullptr;
  PlatformFile* file = nullptr;
  if (!Blocking(fd)) {
    Abandon(fd, path, created);
  } else if (PlatformStreamFails() ? (errno = ENOMEM, true)
                                   : (file = fdopen(fd, "wb")) == nullptr) {
    // fdopen obtains memory: a file made a moment ago must not outlive the failure.
    Abandon(fd, path, created);
  } else {
    std::setvbuf(file, nullptr, _IONBF, 0);
  }
  return file;
}

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
  // Whatever the stream still holds goes first, so the rows follow it in the file.
  if (write && std::fflush(file) != 0) return 0;
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

int IdentifyEntry(const char* path, FileIdentity& id) {
  struct stat st;
  return Identify(lstat(path, &st), st, id);
}

int TruncateOpenFile(PlatformFile* file) { return ftruncate(fileno(file), 0) == 0 ? 1 : 0; }

}  // namespace bmpface
#endif  // !_WIN32
