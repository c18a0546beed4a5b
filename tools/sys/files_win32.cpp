// The tools' file system calls on Windows: through paths and the C library's descriptors. Windows
// has no links below a folder to speak of, and an open file can be neither renamed nor removed,
// which stands in for POSIX's locks.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <system_error>

#include "sys/calls.h"
#include "sys/files.h"

namespace fs = std::filesystem;

namespace bmpface::sys {
namespace {

std::string Reason(int code) { return std::generic_category().message(code); }

std::string LastError() { return std::system_category().message(static_cast<int>(GetLastError())); }

fs::path Entry(const Folder& folder, const std::string& name) { return folder.path / name; }

}  // namespace

bool IdentifyPath(const std::string& path, FileId& id) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return false;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec) return false;
  id = FileId{};
  id.path = resolved.string();
  return true;
}

int ReadAccess(const std::string& path) { return _access(path.c_str(), 4) == 0 ? 0 : errno; }

std::FILE* OpenRegularForWriting(const std::string& path, bool append, FileId& id,
                                 std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (file == nullptr) {
    error = Reason(errno);
    return nullptr;
  }
  struct _stat64 st;
  if (_fstat64(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG ||
      !IdentifyPath(path, id)) {
    error = "not a regular file";
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool CloseFile(int fd) { return _close(fd) == 0; }

namespace calls {

int OpenForReading(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
// The C library moves at most INT_MAX bytes a call.
constexpr size_t kMostPerCall = 1u << 30;
long long Read(int fd, char* buffer, size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size < kMostPerCall ? size : kMostPerCall));
}
long long Write(int fd, const char* data, size_t size) {
  return _write(fd, data, static_cast<unsigned>(size < kMostPerCall ? size : kMostPerCall));
}
bool SeekAhead(int fd, int64_t bytes) { return _lseeki64(fd, bytes, SEEK_CUR) >= 0; }
bool Truncate(int fd, int64_t size) { return _chsize_s(fd, size) == 0; }
int Duplicate(int fd) { return _dup(fd); }
std::FILE* Stream(int fd, const char* mode) { return _fdopen(fd, mode); }

}  // namespace calls

int DescriptorOf(std::FILE*) { return -1; }

Folder::~Folder() = default;

bool OpenFolder(const std::string& root, const fs::path& below, bool create, Folder& out,
                std::string& error) {
  out.path = fs::path(root) / below;
  std::error_code ec;
  if (create) fs::create_directories(out.path, ec);
  if (!fs::is_directory(out.path, ec)) {
    error = (create ? "cannot create the folder " : "cannot open the folder ") + out.path.string();
    return false;
  }
  return true;
}

bool FolderIdentity(const Folder& folder, FileId& id) {
  return IdentifyPath(folder.path.string(), id);
}

bool IsFolderEntry(const Folder& folder, const std::string& name) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(Entry(folder, name), ec));
}

bool ListFolder(const Folder& folder, std::vector<std::string>& names) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.path, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return !ec;
}

int CreateNew(const Folder& folder, const std::string& name, bool& taken, std::string& error) {
  const int fd = _open(Entry(folder, name).string().c_str(),
                       _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  taken = fd < 0 && errno == EEXIST;
  if (fd < 0) error = Reason(errno);
  return fd;
}

// Closed first: Windows renames no open file.
bool CommitNew(const Folder& folder, int fd, const std::string& temp, const std::string& name,
               std::string& error) {
  std::error_code ec;
  if (_close(fd) != 0) {
    error = Reason(errno);
    fs::remove(Entry(folder, temp), ec);
    return false;
  }
  if (!RenameEntry(folder, temp, name, error)) {
    fs::remove(Entry(folder, temp), ec);
    return false;
  }
  return true;
}

void DiscardNew(const Folder& folder, int fd, const std::string& temp) {
  _close(fd);
  std::error_code ec;
  fs::remove(Entry(folder, temp), ec);
}

LinkResult LinkOpenFile(int, const Folder&, const std::string&) { return LinkResult::kUnavailable; }

bool RenameEntry(const Folder& folder, const std::string& from, const std::string& to,
                 std::string& error) {
  if (MoveFileExA(Entry(folder, from).string().c_str(), Entry(folder, to).string().c_str(),
                  MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  error = LastError();
  return false;
}

void RemoveEntry(const Folder& folder, const std::string& name) {
  std::error_code ec;
  fs::remove(Entry(folder, name), ec);
}

// A file still being written is open, and Windows removes no open file.
bool RemoveIfIdle(const Folder& folder, const std::string& name, std::chrono::seconds idle) {
  std::error_code ec;
  const fs::path path = Entry(folder, name);
  if (!fs::is_regular_file(fs::symlink_status(path, ec))) return false;
  const auto changed = fs::last_write_time(path, ec);
  if (ec || fs::file_time_type::clock::now() - changed < idle) return false;
  return fs::remove(path, ec);
}

}  // namespace bmpface::sys
