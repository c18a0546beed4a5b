// `bmpface serve`: the service lives in the program bmpface-serve, beside the command, so that
// the HTTP library (and TLS and compression libraries with it) is never loaded by the command's
// other modes, whose start-up is most of the cost of a picture.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"

namespace bmpface::cli {

int StartServe(int argc, char** argv) {
  (void)argc;
#ifdef BMPFACE_HAVE_SERVE
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  program = program.substr(0, program.find_last_of('/') + 1) + "bmpface-serve";
  ::execv(program.c_str(), argv);
  std::fprintf(stderr, "bmpface: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
  return kExitUsage;
#else
  (void)argv;
  std::fprintf(stderr,
               "bmpface: serve is not built in: build with cpp-httplib (Debian "
               "libcpp-httplib-dev) for it\n");
  return kExitUsage;
#endif
}

}  // namespace bmpface::cli
