// The file layer's system part on Windows.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/system_files.h"

namespace bmpface {

namespace {

// An unbuffered stream over `fd` (see files_posix.cpp); closes `fd` when none can be made.
PlatformFile* Stream(int fd, const char* mode) {
  PlatformFile* file = _fdopen(fd, mode);
  if (file == nullptr) {
    _close(fd);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace

PlatformFile* PlatformOpenRead(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  const int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd == -1) return nullptr;
  PlatformFile* file = Stream(fd, "rb");
  FileIdentity id;
  if (file != nullptr && (IdentifyOpenFile(file, id) == 0 || !id.regular)) {
    std::fclose(file);
    errno = EINVAL;
    return nullptr;
  }
  return file;
}

PlatformFile* PlatformOpenWrite(const char* path, int& created) {
  created = 0;
  if (path == nullptr || path[0] == '\0') return nullptr;
  constexpr int kFlags = _O_WRONLY | _O_BINARY | _O_NOINHERIT;
  int fd = _open(path, kFlags | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
  if (fd != -1) {
    created = 1;
  } else if (errno == EEXIST) {
    fd = _open(path, kFlags | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
  }
  if (fd == -1) return nullptr;
  const bool refused = PlatformStreamFails();
  if (refused) _close(fd);
  PlatformFile* file = refused ? nullptr : Stream(fd, "wb");  // Stream closes fd on failure
  if (file == nullptr && created == 1) {
    // The stream could not be made (no memory): the file made a moment ago goes again.
    _unlink(path);
    created = 0;
  }
  if (refused) errno = ENOMEM;
  return file;
}

int TransferRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp,
                 bool write) {
  for (size_t k = 0; k < rowCount; ++k) {
    uint8_t* row = FileRow(rows, rowBytes, rowCount, bottomUp, k);
    const size_t done =
        write ? std::fwrite(row, 1, rowBytes, file) : std::fread(row, 1, rowBytes, file);
    if (done != rowBytes) return 0;
  }
  return 1;
}

namespace {

// A regular file on disk is FILE_TYPE_DISK and not a directory; devices (NUL, CON) are not.
int Identify(HANDLE handle, FileIdentity& id) {
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &info) == 0) {
    id = FileIdentity{false, 0, 0, 0};
    return 1;
  }
  id.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  id.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  id.volume = info.dwVolumeSerialNumber;
  id.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return 1;
}

// Opened without access rights only to read its identity; sharing everything disturbs no one.
int IdentifyHandleOf(const char* path, DWORD flags, FileIdentity& id) {
  const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  const int known = Identify(handle, id);
  CloseHandle(handle);
  return known;
}

}  // namespace

int PlatformSeek(PlatformFile* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 ? 1 : 0;
}

int IdentifyOpenFile(PlatformFile* file, FileIdentity& id) {
  return Identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), id);
}

// A link (a reparse point) is opened as itself, and is never a regular file here.
int IdentifyEntry(const char* path, FileIdentity& id) {
  const int known =
      IdentifyHandleOf(path, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, id);
  const DWORD attributes = GetFileAttributesA(path);
  if (known == 1 && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    id.regular = false;
  }
  return known;
}

int TruncateOpenFile(PlatformFile* file) { return _chsize_s(_fileno(file), 0) == 0 ? 1 : 0; }

}  // namespace bmpface
#endif  // _WIN32
