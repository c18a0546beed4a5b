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
