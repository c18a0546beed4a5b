// The one seam between the library and the operating system: memory, files, text output and
// path conversion. Nothing else in the library calls malloc, fopen or printf directly, so that a
// test build (BMPFACE_FAULT_INJECTION) can fail any chosen memory request.
#ifndef BMPFACE_PLATFORM_PLATFORM_H_
#define BMPFACE_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bmpface {

// Memory. Each returns null when the block cannot be obtained; PlatformFree(nullptr) is harmless.
// PlatformRealloc and PlatformFree take only blocks that these functions returned.
void* PlatformMalloc(size_t bytes);
void* PlatformCalloc(size_t count, size_t size);
// On failure returns null and leaves `block` valid and unchanged.
void* PlatformRealloc(void* block, size_t bytes);
void PlatformFree(void* block);

// Files. A null or empty path is a path that cannot be opened.
using PlatformFile = std::FILE;
// Opens a regular file for reading, or returns null. Never blocks: a FIFO, a device or a folder is
// refused from the opened file's own type before a byte is read.
PlatformFile* PlatformOpenRead(const char* path);
// Opens `path` for writing, creating it or emptying the file that is there (through a link, as
// any program writing to a path does). `created` is set to 1 when this call made the file, else 0.
// A FIFO with no reader is refused rather than waited on.
PlatformFile* PlatformOpenWrite(const char* path, int& created);
// Number of whole items read or written.
size_t PlatformRead(void* buffer, size_t size, size_t count, PlatformFile* file);
size_t PlatformWrite(const void* buffer, size_t size, size_t count, PlatformFile* file);
// Moves `rowCount` rows of `rowBytes` bytes each between the file, from its current position, and
// the rows of `rows`. With `bottomUp` 1 the file's first row is the last row of `rows`. Return 1
// when every byte was transferred. A few large system calls instead of one per row.
int PlatformReadRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount,
                     int bottomUp);
int PlatformWriteRows(PlatformFile* file, const uint8_t* rows, size_t rowBytes, size_t rowCount,
                      int bottomUp);
// Returns 1 when the position was set.
int PlatformSeek(PlatformFile* file, uint64_t offset);
// Size of an open regular file, or 0 with `size` untouched when it cannot be told (a pipe, a
// device).
int PlatformFileSize(PlatformFile* file, uint64_t& size);
// Closes a file opened for reading.
void PlatformClose(PlatformFile* file);
// Closes a file opened for writing at `path` (`created` as PlatformOpenWrite set it). Returns 1
// when `writesOk` is 1 and every byte reached the file. Otherwise it cleans up without touching
// what it does not own: a file this call created is removed, if `path` still names it and is not
// a link; a regular file that was there before (or that `path` links to) is emptied, so that no
// file that looks whole is left; a device such as /dev/full is left alone. errno keeps the first
// failure's reason.
int PlatformFinishWrite(PlatformFile* file, const char* path, int created, int writesOk);

// Writes `text` unchanged to standard output, as one write of the stream.
void PlatformPrint(const char* text);

// Converts a NUL-terminated wide path to the file system's narrow form in a new buffer that the
// caller releases with PlatformFree. Returns null for a null path, for one that has no narrow form
// and when memory runs out: all of these then reach PlatformOpen as a path that cannot be opened.
char* PlatformNarrowPath(const wchar_t* path);

#ifdef BMPFACE_FAULT_INJECTION
// Test builds only: the n-th memory request from now on (1 = the next one) fails; 0 disarms.
// Counts are per thread, so concurrent tests do not disturb each other.
void PlatformFailRequest(long n);
// Memory requests made on this thread since the last PlatformFailRequest call.
long PlatformRequestCount();
// Bytes in the blocks this thread holds now, and the most it held at once since the last
// PlatformFailRequest call (blocks as asked for; a block that moves is counted twice meanwhile).
size_t PlatformBytesHeld();
size_t PlatformBytesPeak();
#endif

}  // namespace bmpface

#endif  // BMPFACE_PLATFORM_PLATFORM_H_
