// What the bmpface command's modes share: their entry points and the parsing of a command line.
#ifndef BMPFACE_TOOLS_COMMAND_H_
#define BMPFACE_TOOLS_COMMAND_H_

#include <CLI/CLI.hpp>
#include <functional>

#include "outcomes.h"

namespace bmpface::cli {

// Parses the command line into `app`'s options, then runs `check`, which throws
// CLI::ValidationError for a combination it refuses. Returns -1 to go on, or the exit status
// when the command must end here (--help, --version: 0; an error, printed: kExitUsage).
int ParseCommandLine(CLI::App& app, int argc, char** argv, const std::function<void()>& check);

// The modes: `bmpface IN OUT` and `bmpface --detect ...` (single.cpp), `bmpface batch ...` and
// `bmpface explain ...`; argv[0] is the mode's name.
int RunSingle(int argc, char** argv);
int RunBatch(int argc, char** argv);
int RunExplain(int argc, char** argv);
// `bmpface serve ...` runs the program bmpface-serve beside the command (serve/launch.cpp), which
// holds the HTTP library, so that the other modes never load it; RunServe is that program's.
int StartServe(int argc, char** argv);
int RunServe(int argc, char** argv);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_COMMAND_H_
