// Files through the C library's streams, the same on every system. What differs by system
// (opening, row transfers, seeking, what a file is) lives in files_posix.cpp and files_win32.cpp.
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"
#include "platform/system_files.h"

namespace bmpface {

size_t PlatformRead(void* buffer, size_t size, size_t count, PlatformFile* file) {
  return std::fread(buffer, size, count, file);
}

size_t PlatformWrite(const void* buffer, size_t size, size_t count, PlatformFile* file) {
  return std::fwrite(buffer, size, count, file);
}

int PlatformReadRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount,
                     int bottomUp) {
  return TransferRows(file, rows, rowBytes, rowCount, bottomUp, false);
}

int PlatformWriteRows(PlatformFile* file, const uint8_t* rows, size_t rowBytes, size_t rowCount,
                      int bottomUp) {
  // Writing only reads the rows; the shared transfer takes them without const.
  return TransferRows(file, const_cast<uint8_t*>(rows), rowBytes, rowCount, bottomUp, true);
}

int PlatformFileSize(PlatformFile* file, uint64_t& size) {
  FileIdentity id;
  if (IdentifyOpenFile(file, id) == 0 || !id.regular) return 0;
  size = id.size;
  return 1;
}

void PlatformClose(PlatformFile* file) { std::fclose(file); }

int PlatformFinishWrite(PlatformFile* file, const char* path, int created, int writesOk) {
  int reason = errno;
  FileIdentity opened;
  const bool regular = IdentifyOpenFile(file, opened) == 1 && opened.regular;
  bool ok = writesOk == 1 && std::fflush(file) == 0 && std::ferror(file) == 0;
  if (ok) {
    if (std::fclose(file) == 0) return 1;
    reason = errno;
    // The close failed (a file system that reports errors late): the file can no longer be cut,
    // so only one this call created is removed.
    FileIdentity named;
    if (regular && created == 1 && IdentifyEntry(path, named) == 1 && named.regular &&
        SameFile(opened, named)) {
      std::remove(path);
    }
    errno = reason;
    return 0;
  }
  if (writesOk == 1) reason = errno;
  FileIdentity named;
  const bool ours = regular && created == 1 && IdentifyEntry(path, named) == 1 && named.regular &&
                    SameFile(opened, named);
  if (regular && !ours) TruncateOpenFile(file);
  std::fclose(file);
  if (ours) std::remove(path);
  errno = reason;
  return 0;
}

}  // namespace bmpface
