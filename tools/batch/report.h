// The batch's report: one JSON line per picture, written as each picture ends.
#ifndef BMPFACE_TOOLS_BATCH_REPORT_H_
#define BMPFACE_TOOLS_BATCH_REPORT_H_

#include <cstdio>
#include <map>
#include <string>

#include "batch/job.h"
#include "batch/plan.h"
#include "image/crop.h"
#include "sys/files.h"

namespace bmpface::cli {

struct Report {
  std::FILE* file = nullptr;
  std::string path;  // as given; "-" for standard output
  bool toStdout = false;
  sys::FileId id;  // of the file opened, to tell at the end that it is still there
};

// Opens the report. "-" is standard output. Otherwise a regular file, never opened through a link
// (a link planted in a shared folder cannot redirect it), appended to with `append` and emptied
// otherwise. False with `error` naming the file and the reason.
bool OpenReport(const std::string& path, bool append, Report& report, std::string& error);

// Flushes and closes the report. False with `error` when any line may be lost: a failed flush or
// close, or a file that is no longer at its path (its folder removed meanwhile).
bool CloseReport(Report& report, std::string& error);

// The rectangles of the pictures that an earlier report at `path` gives, by the exact bytes of
// their paths. Lines that are not the report's own are passed over.
std::map<std::string, FaceRect> EarlierRects(const std::string& path);

// The report's line for one picture.
std::string ReportLine(const Job& job, const JobResult& result);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_BATCH_REPORT_H_
