// The part that `scan` and `recover` share: the target, the mode, the chosen
// file groups, then the scan job and the search job.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/targets.h"
#include "cli/terminal_view.h"
#include "jobs/search_job.h"
#include "storage/file_type_groups.h"

namespace nuvarin::cli {

// Options that scan and recover both take.
extern const std::set<std::string> kSessionValueOptions;
extern const std::set<std::string> kSessionFlags;

class ScanSession {
 public:
  explicit ScanSession(TerminalView& view) : view_(view) {}
  // Reads TARGET, --mode, --types, --resume/--fresh. Returns an exit code
  // (kExitDone when the session is ready to run).
  int Prepare(const Options& options);
  // Scans and searches. Returns kExitDone, kExitFailed or kExitCancelled
  // (a cancelled scan still has its findings searched).
  int Run();

  JobTarget& Target() { return target_; }
  const std::vector<JobFinding>& Findings() const { return findings_; }
  const std::vector<FileGroup>& Groups() const { return groups_; }
  bool Professional() const { return professional_; }
  const AreaFacts& Facts() const { return facts_; }
  bool Cancelled() const { return cancelled_; }

 private:
  TerminalView& view_;
  JobTarget target_;
  AreaFacts facts_;
  std::vector<FileGroup> groups_;
  std::vector<JobFinding> findings_;
  bool professional_ = false;
  bool cancelled_ = false;
};

// Engine name of a finding for listings ("fast-ntfs", "fast-fat", ...).
const char* SourceKindName(uint32_t sourceKind);

}  // namespace nuvarin::cli
