// The C library calls whose names and types differ between POSIX and Windows, one line each in
// files_posix.cpp and files_win32.cpp; files.cpp builds the rest on them. Only tools/sys uses it.
#ifndef BMPFACE_TOOLS_SYS_CALLS_H_
#define BMPFACE_TOOLS_SYS_CALLS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bmpface::sys::calls {

// Opens `path` for reading, without waiting for a writer or a device; -1 with errno.
int OpenForReading(const char* path);
// At most `size` bytes (fewer where the system takes less in one call); -1 with errno.
long long Read(int fd, char* buffer, size_t size);
long long Write(int fd, const char* data, size_t size);
bool SeekAhead(int fd, int64_t bytes);
bool Truncate(int fd, int64_t size);
int Duplicate(int fd);
std::FILE* Stream(int fd, const char* mode);

}  // namespace bmpface::sys::calls

#endif  // BMPFACE_TOOLS_SYS_CALLS_H_
