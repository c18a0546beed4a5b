#include "batch/runner.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>
#include <thread>

#include "json.h"

namespace bmpface::cli {

Recorder::Recorder(size_t total, bool progress, std::FILE* report)
    : total_(total), progress_(progress), report_(report), start_(std::chrono::steady_clock::now()) {}

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
  } else {
    ++done_;
  }
  // The export's own line for the request's outcome.
  const char* libraryLine = r.end == JobEnd::kRequest || r.end == JobEnd::kRejectFailed
                                ? FactsOf(r.outcome).message
                                : nullptr;
  if (libraryLine != nullptr || failure) {
    TakeDownBar();
    if (libraryLine != nullptr) {
      std::fputs(libraryLine, stdout);
      std::fflush(stdout);
    }
    if (failure) std::fputs(("bmpface: " + job.input + ": " + r.error + "\n").c_str(), stderr);
  }
  if (report_ != nullptr) {
    JsonLine line;
    line.String("path", job.input).String("status", JobWord(r));
    if (r.end == JobEnd::kRequest && r.outcome == Outcome::kDone) line.Rect(r.rect);
    if (r.written.empty()) {
      line.Null("output");
    } else {
      line.String("output", r.written);
    }
    if (failure) line.String("error", r.error);
    // Flushed per line: an interrupted batch keeps the record of what it did.
    std::fputs(line.Finish().c_str(), report_);
    std::fflush(report_);
  }
  DrawBar(libraryLine != nullptr || failure);
}

int Recorder::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  TakeDownBar();
  const double seconds = Seconds();
  const size_t worked = handled_ - skipped_;
  char line[256];
  std::snprintf(line, sizeof line,
                "bmpface batch: %zu pictures: %zu done, %zu no face, %zu failed, %zu skipped "
                "in %.2f s (%.1f pictures/s)\n",
                handled_, done_, noFace_, failed_, skipped_, seconds,
                seconds > 0 ? static_cast<double>(worked) / seconds : 0.0);
  std::fputs(line, stdout);
  std::fflush(stdout);
  return failed_ == 0 ? 0 : 1;
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
    for (size_t i; (i = next.fetch_add(1)) < plan.size();) {
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

int CoreCount() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

}  // namespace bmpface::cli
