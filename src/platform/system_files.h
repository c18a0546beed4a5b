// What files_posix.cpp and files_win32.cpp provide to the rest of the file layer: row transfers,
// and whether a file is a regular file, its size and its identity (a device or volume and a file
// number), for an open file and for a path. Only src/platform uses it.
#ifndef BMPFACE_PLATFORM_SYSTEM_FILES_H_
#define BMPFACE_PLATFORM_SYSTEM_FILES_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace bmpface {

struct FileIdentity {
  bool regular;
  uint64_t size;    // regular files only
  uint64_t volume;  // device (POSIX) or volume serial number (Windows)
  uint64_t index;   // inode (POSIX) or file index (Windows)
};

// Return 1 and fill `id`, or 0 when the system cannot tell. IdentifyEntry does not follow a link
// that `path` itself names: it identifies the link (never a regular file).
int IdentifyOpenFile(PlatformFile* file, FileIdentity& id);
int IdentifyEntry(const char* path, FileIdentity& id);

// Cuts an open file to length 0. Returns 1 on success.
int TruncateOpenFile(PlatformFile* file);

// Moves rows between the file and memory as PlatformReadRows and PlatformWriteRows describe.
int TransferRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp,
                 bool write);

// Whether the stream of a file opened for writing is refused, as when the memory it needs is not
// there. Test builds count it as one of the memory requests (so a sweep over every request reaches
// it); other builds never refuse.
#ifdef BMPFACE_FAULT_INJECTION
bool PlatformStreamFails();
#else
inline bool PlatformStreamFails() { return false; }
#endif

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// Row k of a file of `rowCount` rows, in memory whose rows are top-down.
inline uint8_t* FileRow(uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp, size_t k) {
  return rows + (bottomUp != 0 ? rowCount - 1 - k : k) * rowBytes;
}

}  // namespace bmpface

#endif  // BMPFACE_PLATFORM_SYSTEM_FILES_H_
