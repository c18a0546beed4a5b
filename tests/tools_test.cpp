// The command's pure parts: batch planning (output names, refusals, shards) and the JSON writer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "api/outcomes.h"
#include "batch/job.h"
#include "batch/plan.h"
#include "batch/report.h"
#include "batch/runner.h"
#include "explain/draw.h"
#include "json.h"
#include "outcomes.h"

namespace bmpface::cli {
namespace {

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

TEST(JsonLine, EscapesAndFieldOrder) {
  const struct {
    const char* name;
    std::string text;
    std::string want;
  } strings[] = {
      {"plain", "photos/a.bmp", R"("photos/a.bmp")"},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"controls", std::string("t\tn\n\x01\x1f", 6), R"("t\u0009n\u000a\u0001\u001f")"},
      {"UTF-8", "visage-\xc3\xa9.bmp", "\"visage-\xc3\xa9.bmp\""},
      {"empty", "", R"("")"},
  };
  for (const auto& s : strings) EXPECT_EQ(JsonString(s.text), s.want) << s.name;

  JsonLine line;
  line.String("path", "a.bmp").String("status", "done").Rect({72, 0, 332, 369}).Null("output");
  EXPECT_EQ(line.Finish(),
            R"({"path":"a.bmp","status":"done","x":72,"y":0,"width":332,"height":369,)"
            R"("output":null})"
            "\n");
  EXPECT_EQ(JsonLine().Int("n", -5).Finish(), "{\"n\":-5}\n");
}

// Every outcome has its own exit status (0 only for the two that found a face) and its own word,
// which no batch word repeats; an unverified picture is no failure, and its report line says so
// with the verification's field.
TEST(Outcomes, OwnStatusesWordsAndTheUnverifiedLine) {
  for (const OutcomeFacts& a : kOutcomes) {
    for (const OutcomeFacts& b : kOutcomes) {
      if (&a == &b) continue;
      EXPECT_STRNE(a.word, b.word);
      if (a.exitCode != 0) {
        EXPECT_NE(a.exitCode, b.exitCode) << a.word << " and " << b.word;
      }
    }
  }
  for (const JobEndFacts& end : kJobEnds) {
    for (const OutcomeFacts& o : kOutcomes) {
      if (end.word != nullptr) {
        EXPECT_STRNE(end.word, o.word);
      }
    }
  }
  EXPECT_EQ(FactsOf(Outcome::kUnverified).exitCode, 5);
  // --detect ends with its pictures' worst: unreadable over no face over a face; of two pictures
  // without a face, the first decides.
  const struct {
    std::vector<Outcome> pictures;
    int exitCode;
  } detects[] = {
      {{Outcome::kFaceFound, Outcome::kFaceFound}, 0},
      {{Outcome::kFaceFound, Outcome::kNoFace, Outcome::kFaceFound}, 2},
      {{Outcome::kUnverified, Outcome::kNoFace}, 5},
      {{Outcome::kNoFace, Outcome::kLoadFailed, Outcome::kUnverified}, 1},
  };
  for (const auto& d : detects) {
    Outcome worst = Outcome::kFaceFound;
    for (const Outcome o : d.pictures) worst = WorseOutcome(worst, o);
    EXPECT_EQ(FactsOf(worst).exitCode, d.exitCode);
  }
  Job job;
  job.input = "a.bmp";
  JobResult r;
  r.outcome = Outcome::kUnverified;
  r.searched = r.checked = true;
  r.facts.width = r.facts.height = 10;
  r.written = "rej/a.bmp";
  EXPECT_FALSE(JobFailed(r));
  EXPECT_EQ(ReportLine(job, r),
            R"({"path":"a.bmp","status":"unverified","candidates":0,"skin_share":0,)"
            R"("verified":false,"output":"rej/a.bmp"})"
            "\n");
}

// A report that loses a line is an error: at a write (a file size limit stands in for a full disk),
// at the end (its folder removed meanwhile), or from the start (a device, a link).
TEST(Report, EveryWayOfLosingLinesIsAnError) {
  enum Trouble { kSizeLimit, kRemoved, kDevice, kLink };
  const struct {
    const char* name;
    Trouble trouble;
  } cases[] = {{"file size limit", kSizeLimit},
               {"folder removed", kRemoved},
               {"/dev/full", kDevice},
               {"a link", kLink}};
  const Job job{"photos/a.bmp", "a.bmp", "a.bmp", "out/a.bmp", "", ""};
  JobResult result;
  result.hasRect = true;
  result.written = job.output;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string made = (std::filesystem::temp_directory_path() / "bmpface-report-XXXXXX").string();
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    const std::string top = made, folder = top + "/reports";
    std::filesystem::create_directory(folder);
    std::string path = folder + "/r.jsonl";
    if (c.trouble == kDevice) path = "/dev/full";
    if (c.trouble == kLink) {
      ASSERT_EQ(symlink((top + "/elsewhere").c_str(), path.c_str()), 0);
    }
    Report report;
    std::string error;
    const bool opened = OpenReport(path, false, report, error);
    if (c.trouble == kDevice || c.trouble == kLink) {
      EXPECT_FALSE(opened);
      EXPECT_NE(error.find(path), std::string::npos) << error;
      std::filesystem::remove_all(top);
      continue;
    }
    ASSERT_TRUE(opened) << error;
    Recorder recorder(2, false, &report);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (c.trouble == kSizeLimit) {
      rlimit limited = old;
      limited.rlim_cur = 40;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    recorder.Record(job, result);
    recorder.Record(job, result);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    if (c.trouble == kRemoved) std::filesystem::remove_all(folder);
    const bool closed = CloseReport(report, error);
    EXPECT_FALSE(closed && recorder.ReportError().empty()) << c.name;
    EXPECT_NE((error + recorder.ReportError()).find("r.jsonl"), std::string::npos);
    std::filesystem::remove_all(top);
  }
}

// explain's labels: wherever the regions lie, no two placed labels overlap, every placed label lies
// in the picture, and a label goes inside its region's top-left corner when there is room.
TEST(PlaceLabels, NeverOverlapAndStayInThePicture) {
  std::mt19937 random(14);
  const Box bounds{0, 0, 639, 479};
  for (int round = 0; round < 200; ++round) {
    std::vector<LabelRequest> labels;
    const int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      const int32_t x0 = static_cast<int32_t>(random() % 600),
                    y0 = static_cast<int32_t>(random() % 440);
      const int32_t w = 30 + static_cast<int32_t>(random() % 200),
                    h = 30 + static_cast<int32_t>(random() % 200);
      labels.push_back({{x0, y0, std::min(x0 + w, 639), std::min(y0 + h, 479)},
                        12 * (1 + static_cast<int32_t>(random() % 10)),
                        18,
                        8});
    }
    const std::vector<Box> placed = PlaceLabels(labels, bounds);
    ASSERT_EQ(placed.size(), labels.size());
    for (size_t i = 0; i < placed.size(); ++i) {
      if (placed[i].Empty()) continue;
      EXPECT_TRUE(placed[i].x0 >= 0 && placed[i].y0 >= 0 && placed[i].x1 <= 639 &&
                  placed[i].y1 <= 479);
      for (size_t j = 0; j < i; ++j) {
        ASSERT_FALSE(!placed[j].Empty() && Overlap(placed[i], placed[j]))
            << round << ": " << i << ", " << j;
      }
    }
  }
  // Alone, a label sits inside its region's top-left corner, `gap` pixels in.
  const std::vector<Box> one = PlaceLabels({{{100, 100, 300, 300}, 60, 18, 8}}, bounds);
  EXPECT_TRUE(one[0].x0 == 108 && one[0].y0 == 108 && one[0].x1 == 167 && one[0].y1 == 125);
}

}  // namespace
}  // namespace bmpface::cli
