// Replays files (or every file of the folders given) through the fuzz target without libFuzzer,
// so that ordinary builds compile the harness and the tests replay the kept findings.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  long replayed = 0;
  auto replay = [&](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  };
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file()) replay(entry.path());
    } else {
      replay(argv[i]);
    }
  }
  std::fprintf(stderr, "replayed %ld inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
