// The file layer's system part on Windows.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/system_files.h"

namespace bmpface {

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

}  // namespace

int PlatformSeek(PlatformFile* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 ? 1 : 0;
}

int IdentifyOpenFile(PlatformFile* file, FileIdentity& id) {
  return Identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), id);
}

// Opened without access rights only to read its identity; sharing everything disturbs no one.
int IdentifyPath(const char* path, FileIdentity& id) {
  const HANDLE handle =
      CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  const int known = Identify(handle, id);
  CloseHandle(handle);
  return known;
}

}  // namespace bmpface
#endif  // _WIN32
