// Where a batch writes. Every file appears whole or not at all; it is first written under a name of
// its own that nobody can have planted (created exclusively, never through a link), and only below
// the output folder the user gave, through no link below it; it never replaces an input or a
// folder. A killed run's leftovers are recognised by their suffix and removed by the next run.
#ifndef BMPFACE_TOOLS_BATCH_WRITE_H_
#define BMPFACE_TOOLS_BATCH_WRITE_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "batch/plan.h"

namespace bmpface::cli {

// The suffix of the batch's temporary files: ".NAME.<random>.bmpface-tmp" beside NAME.
constexpr const char* kTemporarySuffix = ".bmpface-tmp";
bool IsTemporaryName(const std::string& fileName);

// A file below an output folder: `root` as given (links in it are the user's), `name` below it
// (normalised, no "..").
struct WriteTarget {
  std::string root;
  std::filesystem::path name;
};

// Fills a new, empty file open for writing on descriptor `fd`; false with `error` set on failure.
using FileFiller = std::function<bool(int fd, std::string& error)>;

// Writes all `size` bytes at `data` to `fd`; false with `error` (the system's reason) otherwise.
bool WriteBytes(int fd, const void* data, size_t size, std::string& error);

// Writes `target` with `fill`: folders made as needed, a temporary file beside it, renamed into
// place. False with `error` (naming the file and the system's reason) and nothing left behind.
bool WriteWhole(const WriteTarget& target, const InputSet& inputs, const FileFiller& fill,
                std::string& error);

// Makes `target` a copy of the regular file `source`: a hard link where the file system allows
// one, else a copy that leaves the source's holes as holes.
bool CopyWhole(const std::string& source, const WriteTarget& target, const InputSet& inputs,
               std::string& error);

// Makes root/folder as needed and checks that a file can be made in it.
bool CheckWritable(const std::string& root, const std::filesystem::path& folder,
                   std::string& error);

// Removes from root/folder the temporary files of an earlier run that was killed: ours by name,
// unchanged for a minute and held by no running writer. Returns how many.
size_t RemoveStaleTemporaries(const std::string& root, const std::filesystem::path& folder);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_WRITE_H_
