// The batch's whole-file writes (batch/write.cpp) over the tools' OS layer. The shell tests drive
// them through the command on Linux only; this runs on every system the cross builds test, Windows
// under Wine among them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "batch/plan.h"
#include "batch/write.h"

namespace bmpface::cli {
namespace {

namespace fs = std::filesystem;

// A folder of the test's own, removed with everything in it at the end.
class Scratch {
 public:
  Scratch() {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("bmpface-write-" + std::to_string(random()));
    fs::create_directories(root_);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }
  std::string Put(const std::string& name, const std::string& bytes) const {
    const fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

 private:
  fs::path root_;
};

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Temporaries(const fs::path& folder) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    n += IsTemporaryName(entry.path().filename().string()) ? 1 : 0;
  }
  return n;
}

// Every write either leaves the whole file at its place or, refused, nothing of it anywhere.
TEST(WriteWhole, WholeOrNothingAndNeverAnInput) {
  const struct {
    const char* name;
    const char* target;  // below out/
    bool fillFails;
    const char* error;  // empty: written
  } cases[] = {
      {"made with its folders", "a/b/face.bmp", false, ""},
      {"replaces an earlier crop", "old.bmp", false, ""},
      {"an input's entry", "in.bmp", false, "would replace an input"},
      {"a folder's name", "taken", false, "a folder has its name"},
      {"leaves the folder", "../up.bmp", false, "leaves the output folder"},
      {"the filler fails", "f.bmp", true, "no bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    const std::string out = (scratch.root() / "out").string();
    InputSet inputs;
    inputs.Add(scratch.Put("out/in.bmp", "input"));
    scratch.Put("out/old.bmp", "earlier");
    fs::create_directories(fs::path(out) / "taken");
    std::string error;
    const bool ok = WriteWhole(
        {out, c.target}, inputs,
        [&](int fd, std::string& why) {
          if (c.fillFails) why = "no bytes";
          return !c.fillFails && WriteBytes(fd, "crop", 4, why);
        },
        error);
    EXPECT_EQ(ok, c.error[0] == '\0') << error;
    if (ok) {
      EXPECT_EQ(Read(fs::path(out) / c.target), "crop");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(Read(fs::path(out) / "in.bmp"), "input");
    EXPECT_EQ(Temporaries(scratch.root()), 0u);
  }
}

// A copy has the source's bytes, zero blocks (written as holes) included; only regular files.
TEST(CopyWhole, SameBytesAndRegularFilesOnly) {
  Scratch scratch;
  const std::string bytes = "head" + std::string(200000, '\0') + "tail";
  const std::string source = scratch.Put("in/big.bmp", bytes);
  const std::string out = (scratch.root() / "rej").string();
  fs::create_directory(out);
  InputSet inputs;
  inputs.Add(source);
  std::string error;
  ASSERT_TRUE(CopyWhole(source, {out, "sub/big.bmp"}, inputs, error)) << error;
  EXPECT_EQ(Read(fs::path(out) / "sub/big.bmp"), bytes);
  EXPECT_FALSE(CopyWhole((scratch.root() / "in").string(), {out, "dir.bmp"}, inputs, error));
  EXPECT_NE(error.find("cannot copy"), std::string::npos) << error;
  EXPECT_EQ(Temporaries(scratch.root()), 0u);
}

// A killed run's temporary files go once they have rested a minute; a fresh one (a live writer's)
// and files of other names stay. A folder blocked by a file cannot be written.
TEST(RemoveStaleTemporaries, OnlyOursAndOnlyOld) {
  Scratch scratch;
  const auto ago = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  const std::string old = scratch.Put("out/.a.bmp.0123456789ab.bmpface-tmp", "x");
  const std::string fresh = scratch.Put("out/.b.bmp.0123456789ab.bmpface-tmp", "x");
  const std::string other = scratch.Put("out/.a.bmp.keep", "x");
  fs::last_write_time(old, ago);
  fs::last_write_time(other, ago);
  const std::string out = (scratch.root() / "out").string();
  EXPECT_EQ(RemoveStaleTemporaries(out, ""), 1u);
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(fresh) && fs::exists(other));
  std::string error;
  EXPECT_TRUE(CheckWritable(out, "new/folder", error)) << error;
  scratch.Put("out/file", "x");
  EXPECT_FALSE(CheckWritable(out, "file/below", error));
  EXPECT_EQ(Temporaries(scratch.root()), 1u);  // the fresh one, and nothing of the checks
}

}  // namespace
}  // namespace bmpface::cli
