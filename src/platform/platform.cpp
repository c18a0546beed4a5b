#include "platform/platform.h"

#include <cstdlib>
#include <cwchar>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif
#if !defined(_WIN32)
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#endif

namespace bmpface {

#ifdef BMPFACE_FAULT_INJECTION
namespace {
// Test-only state; thread_local so that tests running requests on several threads stay independent.
thread_local long gFailAt = 0;
thread_local long gRequests = 0;

bool ShouldFail() {
  ++gRequests;
  return gFailAt != 0 && gRequests == gFailAt;
}
}  // namespace

void PlatformFailRequest(long n) {
  gFailAt = n;
  gRequests = 0;
}

long PlatformRequestCount() { return gRequests; }

#define BMPFACE_MAYBE_FAIL() \
  if (ShouldFail()) return nullptr
#else
#define BMPFACE_MAYBE_FAIL() static_cast<void>(0)
#endif

namespace {

// A large block (a picture's pixels, a crop) is touched once, page by page, right after it is
// obtained, and on Linux most of a request's time went to those first-touch faults: one fault per
// 4 KB page. Asking for transparent huge pages over the block's whole 2 MB spans makes that one
// fault per 2 MB. Only a hint: where huge pages are off or unavailable, nothing changes.
void* AdviseLargeBlock(void* block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (block != nullptr && bytes >= 2 * kHugePage) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#else
  static_cast<void>(bytes);
#endif
  return block;
}

}  // namespace

void* PlatformMalloc(size_t bytes) {
  BMPFACE_MAYBE_FAIL();
  // A zero-byte request still yields a distinct block, so success is never mistaken for failure.
  return AdviseLargeBlock(std::malloc(bytes != 0 ? bytes : 1), bytes);
}

void* PlatformCalloc(size_t count, size_t size) {
  BMPFACE_MAYBE_FAIL();
  if (count == 0 || size == 0) return std::calloc(1, 1);
  // calloc refuses a product that overflows, so count * size is the block's size when it succeeds.
  return AdviseLargeBlock(std::calloc(count, size), count * size);
}

void* PlatformRealloc(void* block, size_t bytes) {
  BMPFACE_MAYBE_FAIL();
  return std::realloc(block, bytes != 0 ? bytes : 1);
}

void PlatformFree(void* block) { std::free(block); }

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

namespace {

// Row k of the file, in memory.
inline uint8_t* FileRow(uint8_t* rows, size_t rowBytes, size_t rowCount, int bottomUp, size_t k) {
  return rows + (bottomUp != 0 ? rowCount - 1 - k : k) * rowBytes;
}

#ifdef _WIN32
template <bool kWrite>
int TransferRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount,
                 int bottomUp) {
  for (size_t k = 0; k < rowCount; ++k) {
    uint8_t* row = FileRow(rows, rowBytes, rowCount, bottomUp, k);
    const size_t done =
        kWrite ? std::fwrite(row, 1, rowBytes, file) : std::fread(row, 1, rowBytes, file);
    if (done != rowBytes) return 0;
  }
  return 1;
}
#else
// Scatter or gather rows with readv/writev, a batch of rows per call. The stream is unbuffered,
// so its descriptor's position is the stream's.
template <bool kWrite>
int TransferRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount,
                 int bottomUp) {
  constexpr size_t kBatch = 64;
  if (rowBytes == 0 || rowCount == 0) return 1;
  // A call may move at most SSIZE_MAX bytes; rows are at most INT32_MAX bytes.
  const size_t perCall = rowBytes > static_cast<size_t>(SSIZE_MAX) / kBatch
                             ? static_cast<size_t>(SSIZE_MAX) / rowBytes
                             : kBatch;
  const int fd = fileno(file);
  iovec parts[kBatch];
  size_t next = 0;  // first file row not yet in a batch
  while (next < rowCount) {
    int used = 0;
    for (; used < static_cast<int>(perCall) && next < rowCount; ++used, ++next) {
      parts[used].iov_base = FileRow(rows, rowBytes, rowCount, bottomUp, next);
      parts[used].iov_len = rowBytes;
    }
    iovec* part = parts;
    while (used > 0) {
      const ssize_t moved = kWrite ? writev(fd, part, used) : readv(fd, part, used);
      if (moved < 0 && errno == EINTR) continue;
      if (moved <= 0) return 0;  // an error, or the file ended early
      // Step over what was moved; a short transfer resumes inside its row.
      size_t left = static_cast<size_t>(moved);
      while (used > 0 && left >= part->iov_len) {
        left -= part->iov_len;
        ++part;
        --used;
      }
      if (used > 0) {
        part->iov_base = static_cast<uint8_t*>(part->iov_base) + left;
        part->iov_len -= left;
      }
    }
  }
  return 1;
}
#endif

#ifdef _WIN32
using StatRecord = struct _stat64;
int StatOpen(PlatformFile* file, StatRecord& st) { return _fstat64(_fileno(file), &st); }
int StatPath(const char* path, StatRecord& st) { return _stat64(path, &st); }
bool IsRegular(const StatRecord& st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
// Windows has no stable inode numbers through the C runtime; the type check is what guards devices.
bool SameFile(const StatRecord&, const StatRecord&) { return true; }
#else
using StatRecord = struct stat;
int StatOpen(PlatformFile* file, StatRecord& st) { return fstat(fileno(file), &st); }
int StatPath(const char* path, StatRecord& st) { return stat(path, &st); }
bool IsRegular(const StatRecord& st) { return S_ISREG(st.st_mode); }
bool SameFile(const StatRecord& a, const StatRecord& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
#endif
}  // namespace

int PlatformReadRows(PlatformFile* file, uint8_t* rows, size_t rowBytes, size_t rowCount,
                     int bottomUp) {
  return TransferRows<false>(file, rows, rowBytes, rowCount, bottomUp);
}

int PlatformWriteRows(PlatformFile* file, const uint8_t* rows, size_t rowBytes, size_t rowCount,
                      int bottomUp) {
  // Writing only reads the rows; the shared transfer takes them without const.
  return TransferRows<true>(file, const_cast<uint8_t*>(rows), rowBytes, rowCount, bottomUp);
}

int PlatformSeek(PlatformFile* file, uint64_t offset) {
#ifdef _WIN32
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 ? 1 : 0;
#else
  const off_t target = static_cast<off_t>(offset);
  if (target < 0 || static_cast<uint64_t>(target) != offset) return 0;
  return fseeko(file, target, SEEK_SET) == 0 ? 1 : 0;
#endif
}

int PlatformFileSize(PlatformFile* file, uint64_t& size) {
  StatRecord st;
  if (StatOpen(file, st) != 0 || !IsRegular(st) || st.st_size < 0) return 0;
  size = static_cast<uint64_t>(st.st_size);
  return 1;
}

void PlatformClose(PlatformFile* file) { std::fclose(file); }

int PlatformFinishWrite(PlatformFile* file, const char* path, int writesOk) {
  StatRecord opened;
  const bool regular = StatOpen(file, opened) == 0 && IsRegular(opened);
  bool ok = writesOk == 1 && std::fflush(file) == 0 && std::ferror(file) == 0;
  ok = std::fclose(file) == 0 && ok;
  if (ok) return 1;
  StatRecord named;
  if (regular && StatPath(path, named) == 0 && IsRegular(named) && SameFile(opened, named)) {
    std::remove(path);
  }
  return 0;
}

void PlatformPrint(const char* text) {
  // One fputs locks the stream once, so lines from concurrent requests do not mix.
  std::fputs(text, stdout);
  std::fflush(stdout);
}

#ifdef _WIN32
char* PlatformNarrowPath(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  // The system's default code page, exactly: a character it lacks makes the path unopenable
  // instead of a best-fit look-alike that names another file (U+2215 as '/', U+221E as '8').
  // UTF-8 as that code page has no best fit and reports no default character; there an unpaired
  // surrogate fails the conversion instead. The buffer is sized for the narrow form.
  const UINT codePage = GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const lossyOut = utf8 ? nullptr : &lossy;
  const int bytes = WideCharToMultiByte(codePage, flags, path, -1, nullptr, 0, nullptr, lossyOut);
  if (bytes <= 0 || lossy) return nullptr;
  char* narrow = static_cast<char*>(PlatformMalloc(static_cast<size_t>(bytes)));
  if (narrow == nullptr) return nullptr;
  if (WideCharToMultiByte(codePage, flags, path, -1, narrow, bytes, nullptr, lossyOut) != bytes ||
      lossy) {
    PlatformFree(narrow);
    return nullptr;
  }
  return narrow;
}
#else
char* PlatformNarrowPath(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  const size_t n = std::wcslen(path);
  if (n >= SIZE_MAX / 4 - 1) return nullptr;
  // wchar_t holds UTF-32 code points here; the narrow form is their UTF-8, at most 4 bytes each.
  char* narrow = static_cast<char*>(PlatformMalloc((n + 1) * 4));
  if (narrow == nullptr) return nullptr;
  unsigned char* out = reinterpret_cast<unsigned char*>(narrow);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = static_cast<uint32_t>(path[i]);
    if (c < 0x80) {
      *out++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *out++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) {  // a surrogate has no UTF-8 form
        PlatformFree(narrow);
        return nullptr;
      }
      *out++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c <= 0x10FFFF) {
      *out++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      PlatformFree(narrow);
      return nullptr;
    }
  }
  *out = '\0';
  return narrow;
}
#endif

}  // namespace bmpface
