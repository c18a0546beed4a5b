// Running a batch's jobs: a pool of workers, and one recorder for all they print.
#ifndef BMPFACE_TOOLS_BATCH_RUNNER_H_
#define BMPFACE_TOOLS_BATCH_RUNNER_H_

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <vector>

#include "batch/job.h"
#include "batch/plan.h"

namespace bmpface::cli {

// Everything the batch prints, and its counts. One lock covers all of it, and every line is
// handed to its stream in one call, so lines from concurrent requests never mix; the progress
// line is taken down before any other line and drawn again after it.
class Recorder {
 public:
  Recorder(size_t total, bool progress, std::FILE* report);
  void Record(const Job& job, const JobResult& result);
  // Takes down the progress line and prints the summary. Returns the exit status: 0 when no
  // picture failed, 1 otherwise.
  int Finish();

 private:
  double Seconds() const;
  void TakeDownBar();
  void DrawBar(bool force);

  std::mutex mutex_;
  const size_t total_;
  const bool progress_;
  std::FILE* const report_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool barShown_ = false;
  size_t handled_ = 0, done_ = 0, noFace_ = 0, skipped_ = 0, failed_ = 0;
};

// Runs every job of `plan` on up to `workers` threads and records each result.
void RunJobs(const std::vector<Job>& plan, const JobSettings& settings, int workers,
             Recorder& recorder);

// The cores this process may use (a container or taskset can allow fewer than the machine has).
int CoreCount();

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_RUNNER_H_
