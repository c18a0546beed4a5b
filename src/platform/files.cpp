// Files through the C library's streams, the same on every system. What differs by system (row
// transfers, seeking, what a file is) lives in files_posix.cpp and files_win32.cpp.
#include <cstdio>

#include "platform/system_files.h"
#include "platform/platform.h"

namespace bmpface {

PlatformFile* PlatformOpen(const char* path, const char* mode) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  PlatformFile* file = std::fopen(path, mode);
  // Reads and writes are whole headers and whole rows: unbuffered, each goes straight between the
  // file and the picture's memory, with no copy through (and no hidden allocation of) a stream
  // buffer.
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

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

int PlatformFinishWrite(PlatformFile* file, const char* path, int writesOk) {
  FileIdentity opened;
  const bool regular = IdentifyOpenFile(file, opened) == 1 && opened.regular;
  bool ok = writesOk == 1 && std::fflush(file) == 0 && std::ferror(file) == 0;
  ok = std::fclose(file) == 0 && ok;
  if (ok) return 1;
  FileIdentity named;
  if (regular && IdentifyPath(path, named) == 1 && named.regular && SameFile(opened, named)) {
    std::remove(path);
  }
  return 0;
}

}  // namespace bmpface
