// bmpface: the command-line host of the library.
//   bmpface INPUT OUTPUT          crop the face of INPUT into OUTPUT        (single.cpp)
//   bmpface --detect INPUT...     print each picture's face rectangle      (single.cpp)
//   bmpface batch ...             crop many pictures, several at once      (batch/)
//   bmpface explain INPUT OUT     draw how the face was chosen             (explain/)
#include <cstring>

#include "command.h"

namespace bmpface::cli {

int ParseCommandLine(CLI::App& app, int argc, char** argv, const std::function<void()>& check) {
  try {
    app.parse(argc, argv);
    if (check) check();
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : kExitUsage;
  }
  return -1;
}

}  // namespace bmpface::cli

int main(int argc, char** argv) {
  // The modes are chosen by the first word only, so `bmpface IN OUT` parses exactly as before
  // for any other first argument.
  if (argc >= 2 && std::strcmp(argv[1], "batch") == 0) {
    return bmpface::cli::RunBatch(argc - 1, argv + 1);
  }
  if (argc >= 2 && std::strcmp(argv[1], "explain") == 0) {
    return bmpface::cli::RunExplain(argc - 1, argv + 1);
  }
  return bmpface::cli::RunSingle(argc, argv);
}
