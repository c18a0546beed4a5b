// The floor of a request: read a whole file into freshly obtained memory and touch every byte.
// The buffer is mapped anew for every read, so its first-touch page faults are paid each time,
// as a real request pays them for its pixel buffer; a reused heap block would hide them.
#ifndef BMPFACE_BENCH_READ_FLOOR_H_
#define BMPFACE_BENCH_READ_FLOOR_H_

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace bmpface_bench {

// Reads `path` whole and returns a checksum of its bytes in `sum`. Returns the file's size, or -1.
// With `hugePages`, the buffer asks for transparent huge pages, as bmpface's large blocks do.
inline int64_t ReadAndTouch(const char* path, uint64_t& sum, bool hugePages = false) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    ::close(fd);
    return -1;
  }
  const size_t size = size_t(st.st_size);
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    ::close(fd);
    return -1;
  }
#ifdef MADV_HUGEPAGE
  if (hugePages) ::madvise(block, size, MADV_HUGEPAGE);
#else
  static_cast<void>(hugePages);
#endif
  auto* bytes = static_cast<uint8_t*>(block);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, bytes + done, size - done);
    if (got <= 0) break;
    done += size_t(got);
  }
  ::close(fd);
  // Every byte enters the sum, eight at a time.
  uint64_t total = 0;
  size_t i = 0;
  for (; i + 8 <= done; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    total += (word & 0x00FF00FF00FF00FFull) + ((word >> 8) & 0x00FF00FF00FF00FFull);
  }
  for (; i < done; ++i) total += bytes[i];
  ::munmap(block, size);
  sum = total;
  return done == size ? int64_t(size) : -1;
}

}  // namespace bmpface_bench

#endif  // BMPFACE_BENCH_READ_FLOOR_H_
