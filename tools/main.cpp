// bmpface: the command-line host of the library.
//   bmpface INPUT OUTPUT          crop the face of INPUT into OUTPUT        (single.cpp)
//   bmpface --detect INPUT...     print each picture's face rectangle      (single.cpp)
//   bmpface batch ...             crop many pictures, several at once      (batch/)
//   bmpface explain INPUT OUT     draw how the face was chosen             (explain/)
//   bmpface serve ...             answer the same over HTTP                (serve/)
#include <cstring>

#include "command.h"

int main(int argc, char** argv) {
  // The modes are chosen by the first word only, so `bmpface IN OUT` parses exactly as before
  // for any other first argument.
  if (argc >= 2 && std::strcmp(argv[1], "batch") == 0) {
    return bmpface::cli::RunBatch(argc - 1, argv + 1);
  }
  if (argc >= 2 && std::strcmp(argv[1], "explain") == 0) {
    return bmpface::cli::RunExplain(argc - 1, argv + 1);
  }
  if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
    return bmpface::cli::StartServe(argc - 1, argv + 1);
  }
  return bmpface::cli::RunSingle(argc, argv);
}
