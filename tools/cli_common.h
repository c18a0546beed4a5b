// Helpers shared by the bmpface command's modes.
#ifndef BMPFACE_TOOLS_CLI_COMMON_H_
#define BMPFACE_TOOLS_CLI_COMMON_H_

#include <string>

namespace bmpface::cli {

// Exit statuses of the single-picture modes: one per failure of the library, and one for a wrong
// command line.
constexpr int kExitOk = 0;
constexpr int kExitLoad = 1;
constexpr int kExitNoFace = 2;
constexpr int kExitExtract = 3;  // no memory for the crop (or, in explain, for its picture)
constexpr int kExitSave = 4;
constexpr int kExitUsage = 64;

// `text` as a JSON string literal, quotes included. Bytes from 0x80 up pass through unchanged.
std::string JsonString(const std::string& text);

// `bmpface batch ARGS...` and `bmpface explain ARGS...`; argv[0] is the mode's name.
int RunBatch(int argc, char** argv);
int RunExplain(int argc, char** argv);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_CLI_COMMON_H_
