// The tools' process calls, written once for POSIX (process_posix.cpp) and once for Windows
// (process_win32.cpp): stop signals, the cores the process may use, and whether a person watches.
#ifndef BMPFACE_TOOLS_SYS_PROCESS_H_
#define BMPFACE_TOOLS_SYS_PROCESS_H_

namespace bmpface::sys {

// From now on SIGINT and SIGTERM call `handler` once; a second one takes its default course and
// ends the process.
void CatchStopSignals(void (*handler)(int));

// The cores this process may use (a container or taskset can allow fewer than the machine has).
int CoreCount();

// Whether standard error is a terminal.
bool StderrIsTerminal();

}  // namespace bmpface::sys

#endif  // BMPFACE_TOOLS_SYS_PROCESS_H_
