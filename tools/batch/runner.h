// Running a batch's jobs: a pool of workers, one recorder for all they print, and the signals that
// stop a batch between pictures.
#ifndef BMPFACE_TOOLS_BATCH_RUNNER_H_
#define BMPFACE_TOOLS_BATCH_RUNNER_H_

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "batch/job.h"
#include "batch/plan.h"
#include "batch/report.h"

namespace bmpface::cli {

// Everything the batch prints, and its counts. One lock covers all of it, and every line is
// handed to its stream in one call, so lines from concurrent requests never mix; the progress
// line is taken down before any other line and drawn again after it. Standard output carries the
// summary, or the report's lines when the report is standard output (the summary then goes to
// standard error).
class Recorder {
 public:
  // `report` may be null (no --report).
  Recorder(size_t total, bool progress, Report* report);
  void Record(const Job& job, const JobResult& result);
  // Takes down the progress line and prints the summary; `stopSignal` is the signal that stopped
  // the batch, or 0. Returns the exit status (outcomes.h): stopped by the signal, else whether a
  // picture failed.
  int Finish(int stopSignal);
  // The first failure to write the report, or empty.
  const std::string& ReportError() const { return reportError_; }

 private:
  double Seconds() const;
  void TakeDownBar();
  void DrawBar(bool force);

  std::mutex mutex_;
  const size_t total_;
  const bool progress_;
  Report* const report_;
  std::string reportError_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool barShown_ = false;
  size_t handled_ = 0, done_ = 0, noFace_ = 0, unverified_ = 0, skipped_ = 0, failed_ = 0;
};

// From now on SIGINT and SIGTERM stop the batch after the pictures being worked on; a second one
// ends the process at once.
void StopOnSignals();
// The signal that asked the batch to stop, or 0.
int StopSignal();

// Runs the jobs of `plan` on up to `workers` threads, records each result, and takes no new job
// once a stop signal came.
void RunJobs(const std::vector<Job>& plan, const JobSettings& settings, int workers,
             Recorder& recorder);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_RUNNER_H_
