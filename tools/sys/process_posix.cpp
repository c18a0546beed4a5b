// The tools' process calls on POSIX systems.
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

#include <csignal>
#include <thread>

#include "sys/process.h"

namespace bmpface::sys {

void CatchStopSignals(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second signal takes its default course
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int CoreCount() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace bmpface::sys
