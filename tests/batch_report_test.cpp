// The batch report: a line lost anywhere is an error.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "batch/job.h"
#include "batch/report.h"
#include "batch/runner.h"

namespace bmpface::cli {
namespace {

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

}  // namespace
}  // namespace bmpface::cli
