// The tools' file system calls, written once for POSIX (files_posix.cpp) and once for Windows
// (files_win32.cpp): what a path is, opening a file that must be a regular file without blocking
// on anything else, and the steps of writing a file whole inside an output folder. What the steps
// are for (the batch's rules) is in batch/write.cpp; the rest of tools/ asks no more which system
// it runs on.
#ifndef BMPFACE_TOOLS_SYS_FILES_H_
#define BMPFACE_TOOLS_SYS_FILES_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace bmpface::sys {

// Which file a path leads to: device and inode on POSIX; on Windows, whose C library has no file
// numbers, the resolved path stands in.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string path;
  bool operator<(const FileId& o) const {
    return std::tie(device, inode, path) < std::tie(o.device, o.inode, o.path);
  }
  bool operator==(const FileId& o) const {
    return device == o.device && inode == o.inode && path == o.path;
  }
  bool operator!=(const FileId& o) const { return !(*this == o); }
};

// The identity of the file `path` leads to (links followed); false when there is none.
bool IdentifyPath(const std::string& path, FileId& id);

enum class PathKind { kMissing, kRegular, kFolder, kOther };
// What `path` leads to (links followed); kMissing leaves the system's reason in errno.
PathKind KindOf(const std::string& path);
// 0 when the file at `path` may be read, else the system's reason (an errno value).
int ReadAccess(const std::string& path);

// Opens the regular file at `path` for reading. A FIFO or device is refused without waiting for
// it (no writer needed, no tape rewound). Returns a descriptor, or -1 with `error`: the system's
// reason, or "not a regular file".
int OpenRegular(const std::string& path, std::string& error);
// Opens `path` for writing as a regular file, never through a link (a link planted in a shared
// folder cannot redirect it): appended to with `append`, emptied otherwise. Returns the stream and
// the file's identity, or null with `error`: "it is a link", "not a regular file", or the system's
// reason.
std::FILE* OpenRegularForWriting(const std::string& path, bool append, FileId& id,
                                 std::string& error);

// Byte moves on a descriptor, retried when a signal interrupts them; errno holds the reason of a
// failure. ReadFull stops early only at the end of the file.
bool ReadFull(int fd, char* buffer, size_t size, size_t& got);
bool WriteFull(int fd, const char* data, size_t size);
bool SkipAhead(int fd, uint64_t bytes);  // moves the position, leaving a hole when written past
bool SetSize(int fd, uint64_t size);
bool CloseFile(int fd);
// An unbuffered stream on a copy of `fd`: closing the stream leaves `fd` open.
std::FILE* StreamOver(int fd, const char* mode);
// The descriptor under an open stream, for a library that reads by descriptor; -1 where none does
// (Windows builds have no libvips).
int DescriptorOf(std::FILE* file);

// An output folder, open while the value lives: a descriptor on POSIX, so that every step below
// happens in the folder that was checked whatever its path comes to name; the path on Windows.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();
  int fd = -1;
  std::filesystem::path path;
};

// Opens root/below: the root as given (links in it are the user's), every part below it without
// following a link (on POSIX), each made when missing and `create` is set. `below` holds no "..".
// False with `error` naming the folder and the reason.
bool OpenFolder(const std::string& root, const std::filesystem::path& below, bool create,
                Folder& out, std::string& error);
// The folder's identity, as IdentifyPath gives it for the folder's path.
bool FolderIdentity(const Folder& folder, FileId& id);
// Whether `name` in `folder` is a folder (a link there is not followed).
bool IsFolderEntry(const Folder& folder, const std::string& name);
// The names in `folder`.
bool ListFolder(const Folder& folder, std::vector<std::string>& names);

// Creates `name` in `folder` exclusively, never through a link, for writing, and holds it (a lock
// on POSIX, an open file on Windows) so that no other run takes it for a leftover. Returns the
// descriptor, or -1: with `taken` when the name exists, else with `error`.
int CreateNew(const Folder& folder, const std::string& name, bool& taken, std::string& error);
// Closes the new file `fd` and renames `temp` over `name`, in the order the system needs; false
// with `error` (the system's reason), leaving neither `temp` nor a `name` that may lack bytes.
bool CommitNew(const Folder& folder, int fd, const std::string& temp, const std::string& name,
               std::string& error);
// Closes the new file `fd` and removes `temp`.
void DiscardNew(const Folder& folder, int fd, const std::string& temp);

enum class LinkResult { kLinked, kTaken, kUnavailable };
// Makes `name` in `folder` a hard link of the open file `fd` (the very file checked through it,
// whatever its path names now), held shared meanwhile so that no other run takes the link for a
// leftover. kUnavailable where links cannot be made (another file system, no /proc, Windows).
LinkResult LinkOpenFile(int fd, const Folder& folder, const std::string& name);
// Renames `from` over `to` in `folder`; false with `error`, the system's reason.
bool RenameEntry(const Folder& folder, const std::string& from, const std::string& to,
                 std::string& error);
void RemoveEntry(const Folder& folder, const std::string& name);
// Removes the regular file `name` from `folder` when it has been unchanged for `idle` and no
// writer holds it. Returns whether it went.
bool RemoveIfIdle(const Folder& folder, const std::string& name, std::chrono::seconds idle);

}  // namespace bmpface::sys

#endif  // BMPFACE_TOOLS_SYS_FILES_H_
