#include "batch/runner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "outcomes.h"
#include "sys/process.h"

namespace bmpface::cli {

namespace {

// Set from the signal handler, read by the workers: a lock-free atomic is safe in both.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be safe in a handler");

extern "C" void OnStopSignal(int signal) { gStopSignal.store(signal); }

const char* Plural(size_t n) { return n == 1 ? "" : "s"; }

}  // namespace

void StopOnSignals() { sys::CatchStopSignals(OnStopSignal); }

int StopSignal() { return gStopSignal.load(); }

Recorder::Recorder(size_t total, bool progress, Report* report)
    : total_(total),
      progress_(progress),
      report_(report),
      start_(std::chrono::steady_clock::now()) {}

void Recorder::Record(const Job& job, const JobResult& r) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++handled_;
  const bool failure = JobFailed(r);
  if (failure) {
    ++failed_;
  } else if (r.end == JobEnd::kSkipped) {
    ++skipped_;
  } else if (r.outcome == Outcome::kNoFace) {
    ++noFace_;
  } else if (r.outcome == Outcome::kUnverified) {
    ++unverified_;
  } else {
    ++done_;
  }
  bool printed = false;
  if (failure) {
    TakeDownBar();
    std::fputs(("bmpface batch: " + job.input + ": " + r.error + "\n").c_str(), stderr);
    printed = true;
  }
  if (report_ != nullptr && report_->file != nullptr && reportError_.empty()) {
    // Flushed per line: an interrupted batch keeps the record of what it did.
    if (std::fputs(ReportLine(job, r).c_str(), report_->file) < 0 ||
        std::fflush(report_->file) != 0) {
      reportError_ = "cannot write the report " + report_->path + ": " +
                     std::generic_category().message(errno);
      TakeDownBar();
      std::fputs(("bmpface batch: " + reportError_ + "\n").c_str(), stderr);
      printed = true;
    }
  }
  DrawBar(printed);
}

int Recorder::Finish(int stopSignal) {
  std::lock_guard<std::mutex> lock(mutex_);
  TakeDownBar();
  const double seconds = Seconds();
  const size_t worked = handled_ - skipped_;
  // Unverified pictures only come with --verify: counted where there are any.
  char unverified[64] = "";
  if (unverified_ > 0)
    std::snprintf(unverified, sizeof unverified, "%zu unverified, ", unverified_);
  char counts[320];
  std::snprintf(counts, sizeof counts,
                "%zu done, %zu no face, %s%zu failed, %zu skipped in %.2f s (%.1f pictures/s)",
                done_, noFace_, unverified, failed_, skipped_, seconds,
                seconds > 0 ? static_cast<double>(worked) / seconds : 0.0);
  std::string line = "bmpface batch: ";
  if (stopSignal != 0) {
    line += std::string("interrupted by ") + (stopSignal == SIGINT ? "SIGINT" : "SIGTERM") +
            " after " + std::to_string(handled_) + " of " + std::to_string(total_) + " picture" +
            Plural(total_) + ": " + counts +
            "; run the same command with --resume to do the rest\n";
  } else {
    line += std::to_string(handled_) + " picture" + Plural(handled_) + ": " + counts + "\n";
  }
  std::FILE* out = report_ != nullptr && report_->toStdout ? stderr : stdout;
  std::fputs(line.c_str(), out);
  std::fflush(out);
  if (stopSignal != 0) return ExitOnSignal(stopSignal);
  return FactsOf(failed_ == 0 ? CommandEnd::kBatchClean : CommandEnd::kBatchFailed).exitCode;
}

double Recorder::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Recorder::TakeDownBar() {
  if (!progress_ || !barShown_) return;
  std::fputs("\r\033[K", stderr);
  barShown_ = false;
}

// Redraws at most ten times a second, and always after another line or at the last picture.
void Recorder::DrawBar(bool force) {
  if (!progress_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && handled_ != total_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const double seconds = Seconds();
  const size_t worked = handled_ - skipped_;
  const double rate = seconds > 0 ? static_cast<double>(worked) / seconds : 0.0;
  const double left = rate > 0 ? static_cast<double>(total_ - handled_) / rate : 0.0;
  constexpr size_t kWidth = 24;
  const size_t filled = total_ == 0 ? kWidth : handled_ * kWidth / total_;
  char line[160];
  std::snprintf(line, sizeof line, "\r[%s%s] %zu/%zu %3zu%%  %.1f/s  %d:%02d left\033[K",
                std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                handled_, total_, total_ == 0 ? 100 : handled_ * 100 / total_, rate,
                static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  std::fputs(line, stderr);
  barShown_ = true;
}

void RunJobs(const std::vector<Job>& plan, const JobSettings& settings, int workers,
             Recorder& recorder) {
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; StopSignal() == 0 && (i = next.fetch_add(1)) < plan.size();) {
      recorder.Record(plan[i], RunJob(plan[i], settings));
    }
  };
  std::vector<std::thread> pool;
  const size_t threads =
      std::min<size_t>(static_cast<size_t>(workers), std::max<size_t>(plan.size(), 1));
  for (size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the ones running take the rest
    }
  }
  work();
  for (std::thread& t : pool) t.join();
}

}  // namespace bmpface::cli
