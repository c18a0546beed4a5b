// readfloor [--huge] IN: the floor of a request as a whole process. Reads IN into fresh memory,
// touches every byte and prints a checksum, so that the read cannot be optimised away. --huge asks
// for transparent huge pages for that memory, as bmpface does for its large blocks.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "read_floor.h"

int main(int argc, char** argv) {
  const bool huge = argc == 3 && std::strcmp(argv[1], "--huge") == 0;
  if (argc != 2 && !huge) {
    std::fprintf(stderr, "usage: readfloor [--huge] IN\n");
    return 64;
  }
  const char* path = argv[argc - 1];
  uint64_t sum = 0;
  if (bmpface_bench::ReadAndTouch(path, sum, huge) < 0) {
    std::fprintf(stderr, "readfloor: %s: cannot read\n", path);
    return 1;
  }
  std::printf("%" PRIu64 "\n", sum);
  return 0;
}
