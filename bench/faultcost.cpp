// faultcost: what fresh memory costs on this machine today, the figure behind most of a large
// request's time. Touches 64 MiB of fresh anonymous memory three ways and prints the best of three
// runs of each: one fault per 4 KiB page, one fault per 2 MiB transparent huge page, and 4 KiB
// pages put in place by one MADV_POPULATE_WRITE call. The cost moves with the host's load, so it
// is worth printing next to every timing.
#include <sys/mman.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace {

constexpr size_t kBytes = size_t{64} << 20;
constexpr size_t kSmall = 4096;
constexpr size_t kHuge = size_t{2} << 20;

enum Way { kSmallPages, kHugePages, kPopulated };

// Microseconds to make kBytes of fresh memory usable the given way; negative when it cannot.
double Touch(Way way) {
  void* raw =
      mmap(nullptr, kBytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return -1.0;
  auto* block = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + kHuge - 1) &
                                           ~uintptr_t{kHuge - 1});
  madvise(block, kBytes, way == kHugePages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
#if defined(MADV_POPULATE_WRITE)
  if (way == kPopulated) ok = madvise(block, kBytes, MADV_POPULATE_WRITE) == 0;
#else
  ok = way != kPopulated;
#endif
  for (size_t at = 0; at < kBytes; at += kSmall) block[at] = 1;
  const auto end = std::chrono::steady_clock::now();
  munmap(raw, kBytes + kHuge);
  return ok ? std::chrono::duration<double, std::micro>(end - start).count() : -1.0;
}

double Best(Way way) {
  double best = -1.0;
  for (int run = 0; run < 3; ++run) {
    const double us = Touch(way);
    if (us >= 0.0 && (best < 0.0 || us < best)) best = us;
  }
  return best;
}

}  // namespace

int main() {
  const double small = Best(kSmallPages), huge = Best(kHugePages), populated = Best(kPopulated);
  std::printf("fresh memory, best of 3 over 64 MiB: 4 KiB faults %.2f us each (%.2f ms per MiB)",
              small / double(kBytes / kSmall), small / 64000.0);
  if (huge >= 0.0) {
    std::printf("; 2 MiB faults %.0f us each (%.2f ms per MiB)", huge / double(kBytes / kHuge),
                huge / 64000.0);
  }
  if (populated >= 0.0) {
    std::printf("; populated at once %.2f us per 4 KiB (%.2f ms per MiB)",
                populated / double(kBytes / kSmall), populated / 64000.0);
  }
  std::printf("\n");
  return small >= 0.0 ? 0 : 1;
}
