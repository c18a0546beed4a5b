// How the bmpface command ends beyond one request's outcome (api/outcomes.h holds those): a wrong
// command line, a batch's own endings, and a batch picture's own words. Each exit status and its
// words in --help are stated here once; the help text is made from these tables.
#ifndef BMPFACE_TOOLS_OUTCOMES_H_
#define BMPFACE_TOOLS_OUTCOMES_H_

#include <string>
#include <vector>

#include "api/outcomes.h"

namespace bmpface::cli {

// How a batch picture ended: by its request's outcome, or in one of the batch's own ways.
enum class JobEnd {
  kRequest,       // the request ran; its outcome says the rest
  kSkipped,       // --resume: its crop or reject copy exists
  kRefused,       // not run: the plan or the write would replace an input
  kRejectFailed,  // no face (or unverified), and the copy into the reject folder failed
};

struct JobEndFacts {
  JobEnd end;
  const char* word;  // in batch reports; null for kRequest (the outcome's word)
  bool failure;      // the picture failed
};

inline constexpr JobEndFacts kJobEnds[] = {
    {JobEnd::kRequest, nullptr, false},
    {JobEnd::kSkipped, "skipped", false},
    {JobEnd::kRefused, "refused", true},
    {JobEnd::kRejectFailed, "reject_failed", true},
};

// The command's exit statuses that no single request's outcome gives.
enum class CommandEnd {
  kUsage,        // every mode
  kBatchClean,   // batch
  kBatchFailed,  // batch
  kNoList,       // batch
  kCantCreate,   // batch
  kReportLost,   // batch
  kDrawn,        // explain
  kOutOfMemory,  // explain
};

struct CommandEndFacts {
  CommandEnd end;
  int exitCode;
  const char* help;  // the words of --help
};

inline constexpr CommandEndFacts kCommandEnds[] = {
    {CommandEnd::kUsage, 64, "wrong command line"},
    {CommandEnd::kBatchClean, 0, "no picture failed (some may have no face)"},
    {CommandEnd::kBatchFailed, 1, "some failed"},
    {CommandEnd::kNoList, 66, "the --from list cannot be read"},
    {CommandEnd::kCantCreate, 73, "a folder or the report cannot be made"},
    {CommandEnd::kReportLost, 74, "the report could not be written"},
    {CommandEnd::kDrawn, 0, "written (with or without a face)"},
    {CommandEnd::kOutOfMemory, FactsOf(Outcome::kExtractFailed).exitCode, "out of memory"},
};

inline constexpr const JobEndFacts& FactsOf(JobEnd end) { return kJobEnds[static_cast<int>(end)]; }
inline constexpr const CommandEndFacts& FactsOf(CommandEnd end) {
  return kCommandEnds[static_cast<int>(end)];
}

// Both tables are indexed by their enums: their rows must stay in the enums' order.
constexpr bool EndRowsInOrder() {
  for (int i = 0; i < static_cast<int>(sizeof kJobEnds / sizeof kJobEnds[0]); ++i) {
    if (static_cast<int>(kJobEnds[i].end) != i) return false;
  }
  for (int i = 0; i < static_cast<int>(sizeof kCommandEnds / sizeof kCommandEnds[0]); ++i) {
    if (static_cast<int>(kCommandEnds[i].end) != i) return false;
  }
  return true;
}
static_assert(EndRowsInOrder(), "kJobEnds or kCommandEnds rows out of their enum's order");

// The exit status of a wrong command line, in every mode.
constexpr int kExitUsage = FactsOf(CommandEnd::kUsage).exitCode;

// The exit status of a batch stopped by a signal: 128 + its number, as a shell shows it.
constexpr int ExitOnSignal(int signal) { return 128 + signal; }

// The worse of two outcomes of --detect, whose exit status is its pictures' worst: a picture that
// cannot be read outweighs one without a face, which outweighs a face; of equals, the first.
Outcome WorseOutcome(Outcome soFar, Outcome next);

// One exit status of --help, and its words.
struct ExitHelp {
  std::string code;
  std::string words;
};
ExitHelp HelpOf(Outcome outcome);
ExitHelp HelpOf(CommandEnd end);
// A stop by SIGINT or SIGTERM.
ExitHelp StopSignalHelp();
// The exit status of each request outcome, once per status, in the table's order.
std::vector<ExitHelp> RequestOutcomesHelp();

// "Exit status: 0 done, 1 ..., 64 wrong command line.", a line broken before a status that would
// pass `width` columns (0: never).
std::string ExitStatusHelp(const std::vector<ExitHelp>& rows, size_t width = 0);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_OUTCOMES_H_
