// Batch planning: output names, refusals, shards, and which files of a folder are pictures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/job.h"
#include "batch/plan.h"
#include "photo/photo.h"

namespace bmpface::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Describe(const std::vector<Job>& jobs) {
  std::vector<std::string> out;
  for (const Job& j : jobs) {
    out.push_back(j.input + " -> " + j.output + " | " + j.reject + " | " + j.refused);
  }
  return out;
}

TEST(PlanJobs, NamesRefusalsAndShards) {
  const std::vector<Found> found = {
      {"in/a.bmp", "a.bmp", ""},
      {"in/sub/b.bmp", "sub/b.bmp", ""},
      {"other/a.bmp", "a.bmp", ""},  // wants in/a.bmp's output name
      {"in/..", "", ""},             // names no file
      {"in/locked", "", "cannot read this folder: denied"},
      {"x/./c.bmp", "./c.bmp", ""},  // names are normalised before they are compared
      {"y/c.bmp", "c.bmp", ""},
  };
  // clang-format off
  const struct {
    const char* name;
    PlanOptions options;
    std::vector<std::string> want;
  } cases[] = {
      {"crops only", {"out", "", 0, 1, ""}, {
          "in/a.bmp -> out/a.bmp |  | ",
          "in/sub/b.bmp -> out/sub/b.bmp |  | ",
          "other/a.bmp -> out/a.bmp |  | same output name as in/a.bmp",
          "in/.. ->  |  | names no file",
          "in/locked ->  |  | cannot read this folder: denied",
          "x/./c.bmp -> out/c.bmp |  | ",
          "y/c.bmp -> out/c.bmp |  | same output name as x/./c.bmp"}},
      {"with rejects", {"out/", "no", 0, 1, ""}, {
          "in/a.bmp -> out/a.bmp | no/a.bmp | ",
          "in/sub/b.bmp -> out/sub/b.bmp | no/sub/b.bmp | ",
          "other/a.bmp -> out/a.bmp | no/a.bmp | same output name as in/a.bmp",
          "in/.. ->  |  | names no file",
          "in/locked ->  |  | cannot read this folder: denied",
          "x/./c.bmp -> out/c.bmp | no/c.bmp | ",
          "y/c.bmp -> out/c.bmp | no/c.bmp | same output name as x/./c.bmp"}},
      // A shard keeps its pictures' refusals as the whole list decides them: other/a.bmp is
      // refused although the picture that owns its name is in the other shard.
      {"shard 0 of 2", {"out", "", 0, 2, ""}, {
          "other/a.bmp -> out/a.bmp |  | same output name as in/a.bmp"}},
      {"shard 1 of 2", {"out", "", 1, 2, ""}, {
          "in/a.bmp -> out/a.bmp |  | ",
          "in/sub/b.bmp -> out/sub/b.bmp |  | ",
          "in/.. ->  |  | names no file",
          "in/locked ->  |  | cannot read this folder: denied",
          "x/./c.bmp -> out/c.bmp |  | ",
          "y/c.bmp -> out/c.bmp |  | same output name as x/./c.bmp"}},
      // --format: every crop takes the format's extension; rejects keep their names.
      {"with --format png", {"out", "no", 0, 1, ".png"}, {
          "in/a.bmp -> out/a.png | no/a.bmp | ",
          "in/sub/b.bmp -> out/sub/b.png | no/sub/b.bmp | ",
          "other/a.bmp -> out/a.png | no/a.bmp | same output name as in/a.bmp",
          "in/.. ->  |  | names no file",
          "in/locked ->  |  | cannot read this folder: denied",
          "x/./c.bmp -> out/c.png | no/c.bmp | ",
          "y/c.bmp -> out/c.png | no/c.bmp | same output name as x/./c.bmp"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(PlanJobs(found, c.options)), c.want) << c.name;
  }
}

TEST(PlanJobs, ShardsAreStableAndParsed) {
  // FNV-1a's published vectors: the shares must not move between versions or machines.
  EXPECT_EQ(Fnv1a(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a("foobar"), 0x85944171f73967e8ull);
  const struct {
    const char* text;
    bool ok;
    uint64_t k, n;
  } cases[] = {{"0/1", true, 0, 1},
               {"2/3", true, 2, 3},
               {"3/3", false, 0, 0},
               {"1/0", false, 0, 0},
               {"x/2", false, 0, 0},
               {"1", false, 0, 0},
               {"/2", false, 0, 0},
               {"1/", false, 0, 0},
               {"-1/2", false, 0, 0},
               {"1/2/3", false, 0, 0},
               {"0/999999999", true, 0, 999999999},
               {"0/1000000000", false, 0, 0}};
  for (const auto& c : cases) {
    uint64_t k = 0, n = 0;
    EXPECT_EQ(ParseShard(c.text, k, n), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(k, c.k) << c.text;
      EXPECT_EQ(n, c.n) << c.text;
    }
  }
}

// Batch takes a file as a picture by its extension, or else by its first bytes.
TEST(FindPictures, ByExtensionThenContent) {
  const fs::path dir =
      fs::temp_directory_path() / ("bmpface-photo-find-" + std::to_string(::getpid()));
  fs::create_directories(dir / "out");
  const std::vector<uint8_t> bmp = {'B', 'M', 0, 0, 0, 0};  // the finder reads the magic only
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  const struct {
    const char* name;
    const std::vector<uint8_t>* bytes;
  } files[] = {{"a.bmp", &bmp},  {"b.JPG", &text}, {"c", &png},         {"d.txt", &bmp},
               {"e.txt", &text}, {"f.png", &png},  {"out/g.bmp", &bmp}, {"h.webp", &text}};
  for (const auto& f : files) {
    std::ofstream(dir / f.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.bytes->data()),
               static_cast<std::streamsize>(f.bytes->size()));
  }
  ASSERT_EQ(::mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
  std::vector<Found> found;
  FindPictures(dir.string(), {dir / "out"}, "", found);
  std::string names;
  for (const Found& f : found) names += f.name.string() + " ";
  if (photo::BuiltWithVips()) {
    EXPECT_EQ(names, "a.bmp b.JPG c d.txt f.png h.webp ");
  } else {
    EXPECT_EQ(names, "a.bmp d.txt ");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace bmpface::cli
