#include "batch/write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

constexpr auto kStaleAfter = std::chrono::seconds(60);

std::string SystemReason(int code) { return std::generic_category().message(code); }

// A fresh temporary name for `base`; the random part makes a planted name useless.
std::string TemporaryName(const std::string& base) {
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      std::hash<std::thread::id>{}(std::this_thread::get_id())};
  char middle[24];
  std::snprintf(middle, sizeof middle, ".%012llx",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return "." + base + middle + kTemporarySuffix;
}

bool ReadAll(int fd, char* buffer, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
#ifdef _WIN32
    const int n = _read(fd, buffer + got, static_cast<unsigned>(size - got));
#else
    const ssize_t n = read(fd, buffer + got, size - got);
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
#ifdef _WIN32
    const int n = _write(fd, data, static_cast<unsigned>(size));
#else
    const ssize_t n = write(fd, data, size);
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the open file `from` into the empty file `to`. A block of zeros is skipped rather than
// written and the size set at the end, so a sparse source stays sparse.
bool CopyKeepingHoles(int from, int to, std::string& error) {
  constexpr size_t kBlock = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  int64_t size = 0;
  for (;;) {
    size_t got = 0;
    if (!ReadAll(from, buffer.get(), kBlock, got)) {
      error = "cannot read it: " + SystemReason(errno);
      return false;
    }
    if (got == 0) break;
    bool zeros = true;
    for (size_t i = 0; i < got && zeros; ++i) zeros = buffer[i] == 0;
#ifdef _WIN32
    const bool ok = zeros ? _lseeki64(to, static_cast<int64_t>(got), SEEK_CUR) >= 0
                          : WriteAll(to, buffer.get(), got);
#else
    const bool ok =
        zeros ? lseek(to, static_cast<off_t>(got), SEEK_CUR) >= 0 : WriteAll(to, buffer.get(), got);
#endif
    if (!ok) {
      error = SystemReason(errno);
      return false;
    }
    size += static_cast<int64_t>(got);
  }
#ifdef _WIN32
  const bool sized = _chsize_s(to, size) == 0;
#else
  const bool sized = ftruncate(to, static_cast<off_t>(size)) == 0;
#endif
  if (!sized) error = SystemReason(errno);
  return sized;
}

#ifndef _WIN32
// An open folder, closed on scope exit.
struct Folder {
  int fd = -1;
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    if (fd >= 0) close(fd);
  }
};

// Opens root/folder: the root as given, every part below it without following a link, made when
// missing and `create` is set.
bool OpenFolder(const std::string& root, const fs::path& folder, bool create, Folder& out,
                std::string& error) {
  out.fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (out.fd < 0) {
    error = "cannot open the folder " + root + ": " + SystemReason(errno);
    return false;
  }
  fs::path at = root;
  for (const fs::path& part : folder) {
    if (part.empty() || part == ".") continue;
    at /= part;
    if (part == "..") {
      error = "refusing the folder " + at.string() + ": it leaves the output folder";
      return false;
    }
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = openat(out.fd, part.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(out.fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot create the folder " + at.string() + ": " + SystemReason(errno);
        return false;
      }
      next = openat(out.fd, part.c_str(), kFlags);
    }
    if (next < 0) {
      const bool link = errno == ELOOP || errno == ENOTDIR;
      error = "cannot open the folder " + at.string() + ": " +
              (link ? std::string("it is a link or not a folder") : SystemReason(errno));
      return false;
    }
    close(out.fd);
    out.fd = next;
  }
  return true;
}

// A temporary file of ours in `folder`, created exclusively and never through a link, held with
// a lock while it is written so that no other run takes it for a leftover.
int CreateTemporary(int folder, const std::string& base, std::string& name, std::string& error) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    name = TemporaryName(base);
    const int fd =
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      error = SystemReason(errno);
      return -1;
    }
    struct stat st;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_nlink != 1 || st.st_size != 0) {
      error = "the temporary file " + name + " is not the new file it should be";
      close(fd);
      unlinkat(folder, name.c_str(), 0);
      return -1;
    }
    return fd;
  }
  error = "no free temporary name";
  return -1;
}

// Renames the finished temporary `temp` over `name` in `folder`, unless `name` is an input or a
// folder at this moment.
bool Replace(int folder, const std::string& temp, const std::string& name, const InputSet& inputs,
             std::string& error) {
  struct stat st;
  if (fstat(folder, &st) == 0 && inputs.HoldsEntry(st.st_dev, st.st_ino, name)) {
    error = "it would replace an input";
    return false;
  }
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    error = "a folder has its name";
    return false;
  }
  if (renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
    error = SystemReason(errno);
    return false;
  }
  return true;
}

std::string Describe(const WriteTarget& target) {
  return (fs::path(target.root) / target.name).string();
}
#endif

}  // namespace

bool WriteBytes(int fd, const void* data, size_t size, std::string& error) {
  if (WriteAll(fd, static_cast<const char*>(data), size)) return true;
  error = SystemReason(errno);
  return false;
}

bool IsTemporaryName(const std::string& fileName) {
  const size_t n = std::strlen(kTemporarySuffix);
  return fileName.size() > n && fileName.compare(fileName.size() - n, n, kTemporarySuffix) == 0;
}

#ifndef _WIN32
bool WriteWhole(const WriteTarget& target, const InputSet& inputs, const FileFiller& fill,
                std::string& error) {
  Folder folder;
  if (!OpenFolder(target.root, target.name.parent_path(), true, folder, error)) return false;
  const std::string name = target.name.filename().string();
  std::string temp;
  const int fd = CreateTemporary(folder.fd, name, temp, error);
  if (fd < 0) {
    error = "cannot write " + Describe(target) + ": " + error;
    return false;
  }
  bool ok = fill(fd, error);
  ok = ok && Replace(folder.fd, temp, name, inputs, error);
  // A close that fails (a network file system reporting late) leaves a file that may lack bytes.
  if (close(fd) != 0 && ok) {
    ok = false;
    error = SystemReason(errno);
    unlinkat(folder.fd, name.c_str(), 0);
  }
  if (!ok) {
    unlinkat(folder.fd, temp.c_str(), 0);
    error = "cannot write " + Describe(target) + ": " + error;
  }
  return ok;
}

bool CopyWhole(const std::string& source, const WriteTarget& target, const InputSet& inputs,
               std::string& error) {
  const int from = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (from < 0 || fstat(from, &st) != 0 || !S_ISREG(st.st_mode)) {
    error =
        "cannot copy " + source + ": " + (from < 0 ? SystemReason(errno) : "not a regular file");
    if (from >= 0) close(from);
    return false;
  }
  Folder folder;
  if (!OpenFolder(target.root, target.name.parent_path(), true, folder, error)) {
    close(from);
    return false;
  }
  // A hard link of the very file that was checked (through its descriptor, so that a path swapped
  // meanwhile cannot be linked instead): no byte copied, no disk used. The shared lock keeps
  // another run from taking the link for a leftover before it is renamed into place.
  flock(from, LOCK_SH);
  const std::string name = target.name.filename().string();
  const std::string self = "/proc/self/fd/" + std::to_string(from);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string temp = TemporaryName(name);
    if (linkat(AT_FDCWD, self.c_str(), folder.fd, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      break;  // another file system, no /proc, links not allowed: copy instead
    }
    close(from);
    if (Replace(folder.fd, temp, name, inputs, error)) return true;
    unlinkat(folder.fd, temp.c_str(), 0);
    error = "cannot write " + Describe(target) + ": " + error;
    return false;
  }
  const bool copied = WriteWhole(
      target, inputs, [&](int to, std::string& why) { return CopyKeepingHoles(from, to, why); },
      error);
  close(from);
  return copied;
}

bool CheckWritable(const std::string& root, const fs::path& folder, std::string& error) {
  Folder open;
  if (!OpenFolder(root, folder, true, open, error)) return false;
  std::string temp;
  const int fd = CreateTemporary(open.fd, "probe", temp, error);
  if (fd < 0) {
    error = "cannot write in " + (fs::path(root) / folder).string() + ": " + error;
    return false;
  }
  close(fd);
  unlinkat(open.fd, temp.c_str(), 0);
  return true;
}

size_t RemoveStaleTemporaries(const std::string& root, const fs::path& folder) {
  Folder open;
  std::string ignored;
  if (!OpenFolder(root, folder, false, open, ignored)) return 0;
  const int listing = dup(open.fd);
  DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) close(listing);
    return 0;
  }
  const auto now = std::chrono::system_clock::now();
  size_t removed = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] != '.' || !IsTemporaryName(name)) continue;
    struct stat st;
    if (fstatat(open.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    // A file being written is held locked (a hard-linked copy through its source), so a live
    // writer's file is never taken; the age only spares files between creation and lock.
    if (now - std::chrono::system_clock::from_time_t(st.st_mtime) < kStaleAfter) continue;
    const int fd = openat(open.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && held.st_ino == st.st_ino &&
        held.st_dev == st.st_dev && unlinkat(open.fd, name.c_str(), 0) == 0) {
      ++removed;
    }
    close(fd);
  }
  closedir(dir);
  return removed;
}

#else  // _WIN32: the same rules through paths; Windows has no links below a folder to speak of.

namespace {

bool CreateFolder(const fs::path& folder, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    error = "cannot create the folder " + folder.string();
    return false;
  }
  return true;
}

int CreateTemporaryAt(const fs::path& folder, const std::string& base, fs::path& temp) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    temp = folder / TemporaryName(base);
    const int fd = _open(temp.string().c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool WriteWhole(const WriteTarget& target, const InputSet& inputs, const FileFiller& fill,
                std::string& error) {
  const fs::path path = fs::path(target.root) / target.name;
  if (!CreateFolder(path.parent_path(), error)) return false;
  fs::path temp;
  const int fd = CreateTemporaryAt(path.parent_path(), path.filename().string(), temp);
  if (fd < 0) {
    error = "cannot write " + path.string() + ": " + SystemReason(errno);
    return false;
  }
  bool ok = fill(fd, error);
  ok = _close(fd) == 0 && ok;
  if (ok && inputs.HoldsEntry(path.string())) {
    ok = false;
    error = "it would replace an input";
  }
  if (ok &&
      MoveFileExA(temp.string().c_str(), path.string().c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    ok = false;
    error = "cannot rename the temporary file";
  }
  if (!ok) {
    std::error_code ec;
    fs::remove(temp, ec);
    error = "cannot write " + path.string() + ": " + error;
  }
  return ok;
}

bool CopyWhole(const std::string& source, const WriteTarget& target, const InputSet& inputs,
               std::string& error) {
  const int from = _open(source.c_str(), _O_RDONLY | _O_BINARY);
  if (from < 0) {
    error = "cannot copy " + source + ": " + SystemReason(errno);
    return false;
  }
  const bool copied = WriteWhole(
      target, inputs, [&](int to, std::string& why) { return CopyKeepingHoles(from, to, why); },
      error);
  _close(from);
  return copied;
}

bool CheckWritable(const std::string& root, const fs::path& folder, std::string& error) {
  const fs::path at = fs::path(root) / folder;
  if (!CreateFolder(at, error)) return false;
  fs::path temp;
  const int fd = CreateTemporaryAt(at, "probe", temp);
  if (fd < 0) {
    error = "cannot write in " + at.string() + ": " + SystemReason(errno);
    return false;
  }
  _close(fd);
  std::error_code ec;
  fs::remove(temp, ec);
  return true;
}

size_t RemoveStaleTemporaries(const std::string& root, const fs::path& folder) {
  size_t removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(root) / folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] != '.' || !IsTemporaryName(name)) continue;
    const auto age = fs::file_time_type::clock::now() - entry.last_write_time(ec);
    if (!ec && age > kStaleAfter && fs::remove(entry.path(), ec)) ++removed;
  }
  return removed;
}

#endif

}  // namespace bmpface::cli
