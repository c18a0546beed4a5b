// What the command's modes need to know of the files they are given.
#ifndef BMPFACE_TOOLS_FILES_H_
#define BMPFACE_TOOLS_FILES_H_

#include <string>

#include "api/outcomes.h"

namespace bmpface::cli {

// Why a picture at `path` could not be loaded, in words: the system's reason when the file cannot
// be opened, or what the file is instead of a picture the library reads.
std::string LoadFailureReason(const std::string& path);

// Why a request on `input` failed, in words: what the failing step said, else for a picture that
// could not be loaded what the file is, else the outcome's own words.
std::string FailureReason(Outcome outcome, const std::string& input, const std::string& said);

// True when both paths name one existing file (through any spelling or link, or a hard link).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_FILES_H_
