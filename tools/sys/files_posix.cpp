// The tools' file system calls on POSIX systems: every step through descriptors, so that a path
// swapped for a link between a check and its use cannot redirect the use.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include "sys/calls.h"
#include "sys/files.h"

namespace bmpface::sys {
namespace {

std::string Reason(int code) { return std::generic_category().message(code); }

void Fill(const struct stat& st, FileId& id) {
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.path.clear();
}

// Whether `value` fits the system's file offsets (32 bits on some 32-bit systems).
bool FitsOffset(int64_t value) {
  if (value <= std::numeric_limits<off_t>::max()) return true;
  errno = EFBIG;
  return false;
}

}  // namespace

bool IdentifyPath(const std::string& path, FileId& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  Fill(st, id);
  return true;
}

int ReadAccess(const std::string& path) { return access(path.c_str(), R_OK) == 0 ? 0 : errno; }

std::FILE* OpenRegularForWriting(const std::string& path, bool append, FileId& id,
                                 std::string& error) {
  const int fd = ::open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
  if (fd < 0) {
    error = errno == ELOOP ? std::string("it is a link") : Reason(errno);
    return nullptr;
  }
  struct stat st;
  std::FILE* file = nullptr;
  if (fstat(fd, &st) != 0) {
    error = Reason(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
  } else if (!append && ftruncate(fd, 0) != 0) {
    error = Reason(errno);
  } else if ((file = fdopen(fd, append ? "a" : "w")) == nullptr) {
    error = Reason(errno);
  }
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  Fill(st, id);
  return file;
}

bool CloseFile(int fd) { return close(fd) == 0; }

namespace calls {

// O_NONBLOCK: opening a FIFO would otherwise wait for a writer before its type could be seen.
int OpenForReading(const char* path) {
  return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}
long long Read(int fd, char* buffer, size_t size) { return read(fd, buffer, size); }
long long Write(int fd, const char* data, size_t size) { return write(fd, data, size); }
bool SeekAhead(int fd, int64_t bytes) {
  return FitsOffset(bytes) && lseek(fd, static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}
bool Truncate(int fd, int64_t size) {
  return FitsOffset(size) && ftruncate(fd, static_cast<off_t>(size)) == 0;
}
int Duplicate(int fd) { return dup(fd); }
std::FILE* Stream(int fd, const char* mode) { return fdopen(fd, mode); }

}  // namespace calls

int DescriptorOf(std::FILE* file) { return fileno(file); }

Folder::~Folder() {
  if (fd >= 0) close(fd);
}

bool OpenFolder(const std::string& root, const std::filesystem::path& below, bool create,
                Folder& out, std::string& error) {
  out.path = root;
  out.fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (out.fd < 0) {
    error = "cannot open the folder " + root + ": " + Reason(errno);
    return false;
  }
  for (const std::filesystem::path& part : below) {
    if (part.empty() || part == ".") continue;
    out.path /= part;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = openat(out.fd, part.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(out.fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot create the folder " + out.path.string() + ": " + Reason(errno);
        return false;
      }
      next = openat(out.fd, part.c_str(), kFlags);
    }
    if (next < 0) {
      const bool link = errno == ELOOP || errno == ENOTDIR;
      error = "cannot open the folder " + out.path.string() + ": " +
              (link ? std::string("it is a link or not a folder") : Reason(errno));
      return false;
    }
    close(out.fd);
    out.fd = next;
  }
  return true;
}

bool FolderIdentity(const Folder& folder, FileId& id) {
  struct stat st;
  if (fstat(folder.fd, &st) != 0) return false;
  Fill(st, id);
  return true;
}

bool IsFolderEntry(const Folder& folder, const std::string& name) {
  struct stat st;
  return fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool ListFolder(const Folder& folder, std::vector<std::string>& names) {
  const int listing = dup(folder.fd);
  DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) close(listing);
    return false;
  }
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  return true;
}

int CreateNew(const Folder& folder, const std::string& name, bool& taken, std::string& error) {
  taken = false;
  const int fd =
      openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    taken = errno == EEXIST;
    error = Reason(errno);
    return -1;
  }
  struct stat st;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_nlink != 1 || st.st_size != 0) {
    error = "the temporary file " + name + " is not the new file it should be";
    close(fd);
    unlinkat(folder.fd, name.c_str(), 0);
    return -1;
  }
  return fd;
}

// Renamed while still open and locked, so that no other run takes it for a leftover meanwhile.
bool CommitNew(const Folder& folder, int fd, const std::string& temp, const std::string& name,
               std::string& error) {
  if (renameat(folder.fd, temp.c_str(), folder.fd, name.c_str()) != 0) {
    error = Reason(errno);
    DiscardNew(folder, fd, temp);
    return false;
  }
  // A close that fails (a network file system reporting late) leaves a file that may lack bytes.
  if (close(fd) != 0) {
    error = Reason(errno);
    unlinkat(folder.fd, name.c_str(), 0);
    return false;
  }
  return true;
}

void DiscardNew(const Folder& folder, int fd, const std::string& temp) {
  close(fd);
  unlinkat(folder.fd, temp.c_str(), 0);
}

LinkResult LinkOpenFile(int fd, const Folder& folder, const std::string& name) {
  flock(fd, LOCK_SH);
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), folder.fd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return LinkResult::kLinked;
  }
  return errno == EEXIST ? LinkResult::kTaken : LinkResult::kUnavailable;
}

bool RenameEntry(const Folder& folder, const std::string& from, const std::string& to,
                 std::string& error) {
  if (renameat(folder.fd, from.c_str(), folder.fd, to.c_str()) == 0) return true;
  error = Reason(errno);
  return false;
}

void RemoveEntry(const Folder& folder, const std::string& name) {
  unlinkat(folder.fd, name.c_str(), 0);
}

// A file being written is held locked (a hard-linked copy through its source), so a live writer's
// file is never taken; the age only spares files between their creation and their lock.
bool RemoveIfIdle(const Folder& folder, const std::string& name, std::chrono::seconds idle) {
  struct stat st;
  if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  const auto now = std::chrono::system_clock::now();
  if (now - std::chrono::system_clock::from_time_t(st.st_mtime) < idle) return false;
  const int fd = openat(folder.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat held;
  const bool removed = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 &&
                       held.st_ino == st.st_ino && held.st_dev == st.st_dev &&
                       unlinkat(folder.fd, name.c_str(), 0) == 0;
  close(fd);
  return removed;
}

}  // namespace bmpface::sys
