#include "outcomes.h"

#include <csignal>

namespace bmpface::cli {
namespace {

// How much an outcome weighs in --detect's exit status.
int Weight(Outcome outcome) {
  const OutcomeFacts& facts = FactsOf(outcome);
  return facts.failure ? 2 : facts.exitCode != 0 ? 1 : 0;
}

}  // namespace

Outcome WorseOutcome(Outcome soFar, Outcome next) {
  return Weight(next) > Weight(soFar) ? next : soFar;
}

ExitHelp HelpOf(Outcome outcome) {
  return {std::to_string(FactsOf(outcome).exitCode), FactsOf(outcome).help};
}

ExitHelp HelpOf(CommandEnd end) {
  return {std::to_string(FactsOf(end).exitCode), FactsOf(end).help};
}

ExitHelp StopSignalHelp() {
  return {std::to_string(ExitOnSignal(SIGINT)) + "/" + std::to_string(ExitOnSignal(SIGTERM)),
          "stopped by SIGINT/SIGTERM"};
}

std::vector<ExitHelp> RequestOutcomesHelp() {
  std::vector<ExitHelp> rows;
  for (const OutcomeFacts& facts : kOutcomes) {
    const ExitHelp row = HelpOf(facts.outcome);
    bool listed = false;
    for (const ExitHelp& r : rows) listed = listed || r.code == row.code;
    if (!listed) rows.push_back(row);
  }
  return rows;
}

std::string ExitStatusHelp(const std::vector<ExitHelp>& rows, size_t width) {
  std::string text = "Exit status:";
  size_t lineStart = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string item =
        rows[i].code + " " + rows[i].words + (i + 1 == rows.size() ? "." : ",");
    if (width > 0 && text.size() - lineStart + 1 + item.size() > width) {
      text += "\n";
      lineStart = text.size();
    } else {
      text += " ";
    }
    text += item;
  }
  return text;
}

}  // namespace bmpface::cli
