// readfloor IN: the floor of a request as a whole process. Reads IN into fresh memory, touches
// every byte and prints a checksum, so that the read cannot be optimised away.
#include <cinttypes>
#include <cstdio>

#include "read_floor.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: readfloor IN\n");
    return 64;
  }
  uint64_t sum = 0;
  if (bmpface_bench::ReadAndTouch(argv[1], sum) < 0) {
    std::fprintf(stderr, "readfloor: %s: cannot read\n", argv[1]);
    return 1;
  }
  std::printf("%" PRIu64 "\n", sum);
  return 0;
}
