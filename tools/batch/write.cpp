// The batch's rules for writing a file whole (write.h), over the system's steps in sys/files.h.
#include "batch/write.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#include "sys/files.h"

namespace fs = std::filesystem;

namespace bmpface::cli {
namespace {

constexpr auto kStaleAfter = std::chrono::seconds(60);
constexpr int kNameAttempts = 64;

std::string SystemReason(int code) { return std::generic_category().message(code); }

// A fresh temporary name for `base`; the random part makes a planted name useless.
std::string TemporaryName(const std::string& base) {
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      std::hash<std::thread::id>{}(std::this_thread::get_id())};
  char middle[24];
  std::snprintf(middle, sizeof middle, ".%012llx",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return "." + base + middle + kTemporarySuffix;
}

// Opens root/folder, refusing a folder that climbs out of the root.
bool OpenBelow(const std::string& root, const fs::path& folder, bool create, sys::Folder& out,
               std::string& error) {
  fs::path at = root;
  for (const fs::path& part : folder) {
    if (part.empty() || part == ".") continue;
    at /= part;
    if (part == "..") {
      error = "refusing the folder " + at.string() + ": it leaves the output folder";
      return false;
    }
  }
  return sys::OpenFolder(root, folder, create, out, error);
}

// A new temporary file of ours for `base` in `folder`; -1 with `error` when none can be made.
int CreateTemporary(const sys::Folder& folder, const std::string& base, std::string& name,
                    std::string& error) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = TemporaryName(base);
    bool taken = false;
    const int fd = sys::CreateNew(folder, name, taken, error);
    if (fd >= 0 || !taken) return fd;
  }
  error = "no free temporary name";
  return -1;
}

// Whether `name` in `folder` may be replaced: not an input's entry, not a folder.
bool Replaceable(const sys::Folder& folder, const std::string& name, const InputSet& inputs,
                 std::string& error) {
  sys::FileId id;
  if (sys::FolderIdentity(folder, id) && inputs.HoldsEntry(id, name)) {
    error = "it would replace an input";
    return false;
  }
  if (sys::IsFolderEntry(folder, name)) {
    error = "a folder has its name";
    return false;
  }
  return true;
}

// Copies the open file `from` into the empty file `to`. A block of zeros is skipped rather than
// written and the size set at the end, so a sparse source stays sparse.
bool CopyKeepingHoles(int from, int to, std::string& error) {
  constexpr size_t kBlock = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  uint64_t size = 0;
  for (;;) {
    size_t got = 0;
    if (!sys::ReadFull(from, buffer.get(), kBlock, got)) {
      error = "cannot read it: " + SystemReason(errno);
      return false;
    }
    if (got == 0) break;
    bool zeros = true;
    for (size_t i = 0; i < got && zeros; ++i) zeros = buffer[i] == 0;
    if (!(zeros ? sys::SkipAhead(to, got) : sys::WriteFull(to, buffer.get(), got))) {
      error = SystemReason(errno);
      return false;
    }
    size += got;
  }
  if (sys::SetSize(to, size)) return true;
  error = SystemReason(errno);
  return false;
}

std::string Describe(const WriteTarget& target) {
  return (fs::path(target.root) / target.name).string();
}

}  // namespace

bool WriteBytes(int fd, const void* data, size_t size, std::string& error) {
  if (sys::WriteFull(fd, static_cast<const char*>(data), size)) return true;
  error = SystemReason(errno);
  return false;
}

bool IsTemporaryName(const std::string& fileName) {
  const size_t n = std::strlen(kTemporarySuffix);
  return fileName.size() > n && fileName.compare(fileName.size() - n, n, kTemporarySuffix) == 0;
}

bool WriteWhole(const WriteTarget& target, const InputSet& inputs, const FileFiller& fill,
                std::string& error) {
  sys::Folder folder;
  if (!OpenBelow(target.root, target.name.parent_path(), true, folder, error)) return false;
  const std::string name = target.name.filename().string();
  std::string temp;
  const int fd = CreateTemporary(folder, name, temp, error);
  bool ok = fd >= 0;
  if (ok && fill(fd, error) && Replaceable(folder, name, inputs, error)) {
    ok = sys::CommitNew(folder, fd, temp, name, error);
  } else if (ok) {
    sys::DiscardNew(folder, fd, temp);
    ok = false;
  }
  if (!ok) error = "cannot write " + Describe(target) + ": " + error;
  return ok;
}

bool CopyWhole(const std::string& source, const WriteTarget& target, const InputSet& inputs,
               std::string& error) {
  const int from = sys::OpenRegular(source, error);
  if (from < 0) {
    error = "cannot copy " + source + ": " + error;
    return false;
  }
  sys::Folder folder;
  if (!OpenBelow(target.root, target.name.parent_path(), true, folder, error)) {
    sys::CloseFile(from);
    return false;
  }
  // A hard link of the very file that was checked: no byte copied, no disk used.
  const std::string name = target.name.filename().string();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string temp = TemporaryName(name);
    const sys::LinkResult link = sys::LinkOpenFile(from, folder, temp);
    if (link == sys::LinkResult::kTaken) continue;
    if (link == sys::LinkResult::kUnavailable) break;  // copy instead
    sys::CloseFile(from);
    if (Replaceable(folder, name, inputs, error) && sys::RenameEntry(folder, temp, name, error)) {
      return true;
    }
    sys::RemoveEntry(folder, temp);
    error = "cannot write " + Describe(target) + ": " + error;
    return false;
  }
  const bool copied = WriteWhole(
      target, inputs, [&](int to, std::string& why) { return CopyKeepingHoles(from, to, why); },
      error);
  sys::CloseFile(from);
  return copied;
}

bool CheckWritable(const std::string& root, const fs::path& folder, std::string& error) {
  sys::Folder open;
  if (!OpenBelow(root, folder, true, open, error)) return false;
  std::string temp;
  const int fd = CreateTemporary(open, "probe", temp, error);
  if (fd < 0) {
    error = "cannot write in " + (fs::path(root) / folder).string() + ": " + error;
    return false;
  }
  sys::DiscardNew(open, fd, temp);
  return true;
}

size_t RemoveStaleTemporaries(const std::string& root, const fs::path& folder) {
  sys::Folder open;
  std::string ignored;
  std::vector<std::string> names;
  if (!OpenBelow(root, folder, false, open, ignored) || !sys::ListFolder(open, names)) return 0;
  size_t removed = 0;
  for (const std::string& name : names) {
    if (name.empty() || name[0] != '.' || !IsTemporaryName(name)) continue;
    if (sys::RemoveIfIdle(open, name, kStaleAfter)) ++removed;
  }
  return removed;
}

}  // namespace bmpface::cli
