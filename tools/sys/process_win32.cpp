// The tools' process calls on Windows.
#include <io.h>

#include <csignal>
#include <cstdio>
#include <thread>

#include "sys/process.h"

namespace bmpface::sys {

// The C library's signal() resets the handler on delivery, as SA_RESETHAND does.
void CatchStopSignals(void (*handler)(int)) {
  std::signal(SIGINT, handler);
  std::signal(SIGTERM, handler);
}

int CoreCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace bmpface::sys
