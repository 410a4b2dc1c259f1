// The recover job: each chosen finding written by its own engine below the
// destination, sorted into group folders ("photo", "audio", ...) under a
// unique name, or under its original folder path; every file's result counted.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jobs/job_control.h"
#include "jobs/job_view.h"
#include "jobs/search_job.h"

namespace nuvarin {

enum class RecoverLayout { kByType, kByFolder };

struct RecoverFailure {
  std::string path;
  int32_t error = 0;
};

class RecoverJob {
 public:
  RecoverJob(IJobView& view, JobControl& control) : view_(view), control_(control) {}
  // kJobFinished, or kJobCancelled after a cancel (files written so far stay).
  int Run(const std::vector<JobFinding>& findings, const std::filesystem::path& destination,
          RecoverLayout layout);
  const RecoverCounts& Counts() const { return counts_; }
  const std::vector<RecoverFailure>& Failures() const { return failures_; }

  // Destination of one finding: destination/<group>/<name>, made unique with
  // "(1)", "(2)", ... before the extension.
  static std::filesystem::path TypePath(const std::filesystem::path& destination, const FoundItem& item);
  // destination/<folder path>/<name> with every component made safe.
  static std::filesystem::path FolderPath(const std::filesystem::path& destination,
                                          const std::string& itemFolderPath, const FoundItem& item);
  // `path` itself when free, else stem(1).ext, stem(2).ext, ...
  static std::filesystem::path UniquePath(const std::filesystem::path& path);
  // Number of "/" in a folder path, its last character not counted.
  static uint32_t BaseDepth(const std::filesystem::path& folder);

 private:
  static int32_t OnFile(void* context, int32_t percent, int32_t weight, int32_t errorCode, const char* path);
  IJobView& view_;
  JobControl& control_;
  RecoverCounts counts_;
  std::vector<RecoverFailure> failures_;
};

}  // namespace nuvarin
