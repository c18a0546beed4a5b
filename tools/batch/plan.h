// Planning a batch: which pictures, under which output names, which are refused, and which
// belong to this shard. Everything but FindPictures, ReadList and InputSet works on names alone.
#ifndef BMPFACE_TOOLS_BATCH_PLAN_H_
#define BMPFACE_TOOLS_BATCH_PLAN_H_

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sys/files.h"

namespace bmpface::cli {

// A picture to do: its path as given or found, its name below the output folder, and why it cannot
// be done (empty when it can).
struct Found {
  std::string input;
  std::filesystem::path name;
  std::string refused;
};

// One picture's work: where its crop and (with --reject) its copy go, or why it is refused.
struct Job {
  std::string input;
  std::filesystem::path name;        // below the reject folder: the picture's own name
  std::filesystem::path outputName;  // below the output folder: in the output's format
  std::string output;
  std::string reject;   // empty without --reject
  std::string refused;  // empty when the picture is to be done
};

struct PlanOptions {
  std::string out;     // the folder for the crops
  std::string reject;  // the folder for pictures without a face; empty for none
  uint64_t shardK = 0;
  uint64_t shardN = 1;
  std::string outputExtension;  // --format: crops get this extension (".png"); empty: the input's
};

// Appends the pictures named by `arg`: the path itself, or every picture file below a folder in
// name order, leaving out the folders in `skip` (the output folders, which may hold an earlier
// run's crops). A picture file is a regular file with a picture's extension (IsPictureName), or
// else one whose first bytes are those of a picture this build reads. A picture's name is its path
// below `base` when `base` is given (a picture outside it is refused), else its path below the
// folder it was found in, or its file name when named itself. An unreadable folder adds one
// refused entry.
void FindPictures(const std::string& arg, const std::vector<std::filesystem::path>& skip,
                  const std::string& base, std::vector<Found>& out);

// `path` below `base`, both taken as absolute and normalised without resolving links; empty when
// `path` is not below `base`.
std::filesystem::path NameBelow(const std::filesystem::path& path,
                                const std::filesystem::path& base);

// Whether a file name has the extension of a picture this build reads (.bmp; with libvips also
// .jpg, .jpeg, .jpe, .png, .webp, .tif, .tiff, .gif, .heic, .heif, .avif), in any case.
bool IsPictureName(const std::filesystem::path& path);

// Whether the regular file at `path` starts like a picture this build reads. Opened without
// blocking; anything but a regular file is not a picture.
bool StartsLikePicture(const std::filesystem::path& path);

// The jobs of this shard. Output names are decided on the whole list, so every shard refuses the
// same pictures: the second of two pictures that want one output name, and a picture with no
// file name. With `outputExtension`, each output name takes that extension in place of its own.
std::vector<Job> PlanJobs(const std::vector<Found>& found, const PlanOptions& options);

// Why two writes of the batch would go to one path, a crop and a reject copy (the reject folder
// inside the output folder, or the other way round), or empty when none would. Two crops with one
// name are refused picture by picture in PlanJobs; this clash depends on which pictures have a
// face, so it is a wrong command line. Decide it on the jobs of the whole list, every shard.
std::string SharedWritePath(const std::vector<Job>& jobs);

// The same 64-bit FNV-1a on every machine and in every run, so shares are stable.
uint64_t Fnv1a(const std::string& text);

// "K/N" with 0 <= K < N and both at most nine digits.
bool ParseShard(const std::string& text, uint64_t& k, uint64_t& n);

// One entry of a --from list, or why it cannot be taken.
struct Listed {
  std::string path;
  std::string refused;
};

// Appends the entries of a list file (- for standard input), separated by `separator` ('\n', or
// '\0' for lists made by find -print0); empty entries are skipped, and in a list of lines a
// trailing '\r' is dropped. A line that holds a NUL byte is refused as a whole, never cut at the
// NUL. False when the list cannot be read.
bool ReadList(const std::string& from, char separator, std::vector<Listed>& entries);

// The inputs of the batch, so that none is ever written over. A batch replaces files by renaming a
// new one over a folder entry, which leaves every other link to the old file as it was; what must
// never be replaced is an input's own entry: its folder (by identity, so another spelling or a
// link to the folder is still found) and its name. Files written in place (the report) must in
// addition not be an input's file itself, through a link or a hard link.
class InputSet {
 public:
  void Add(const std::string& path);
  // `path` names an input's entry (its folder resolved) or an input's file.
  bool Holds(const std::string& path) const;
  // `path` names an input's entry; a link or hard link to an input elsewhere does not count.
  bool HoldsEntry(const std::string& path) const;
  // The entry `name` of the folder with identity `folder` is an input's.
  bool HoldsEntry(const sys::FileId& folder, const std::string& name) const {
    return entries_.count({folder, name}) != 0;
  }

 private:
  using Id = sys::FileId;
  static bool IdentifyEntry(const std::string& path, std::pair<Id, std::string>& entry);
  std::set<Id> ids_;
  std::set<std::pair<Id, std::string>> entries_;
};

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_PLAN_H_
