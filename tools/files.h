// What the command's modes need to know of the files they are given.
#ifndef BMPFACE_TOOLS_FILES_H_
#define BMPFACE_TOOLS_FILES_H_

#include <string>

namespace bmpface::cli {

// Why a picture at `path` could not be loaded, in words: the system's reason when the file cannot
// be opened, or what the file is instead of a picture the library reads.
std::string LoadFailureReason(const std::string& path);

// True when both paths name one existing file (through any spelling or link, or a hard link).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_FILES_H_
