// The outcome tables: exit statuses, words, and the report line of each outcome.
#include "api/outcomes.h"

#include <gtest/gtest.h>

#include <string>

#include "batch/job.h"
#include "batch/report.h"
#include "json.h"
#include "outcomes.h"

namespace bmpface::cli {
namespace {

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

}  // namespace
}  // namespace bmpface::cli
