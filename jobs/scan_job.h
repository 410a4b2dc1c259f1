// The scan job: for each target, a fresh engine from the factory, a new scan
// folder before a deleted-file scan, the resume question before a deep one,
// then the scan itself with progress and cancel.
#pragma once
#include <cstdint>
#include <vector>

#include "jobs/job_control.h"
#include "jobs/job_target.h"
#include "jobs/job_view.h"

namespace nuvarin {

// Close codes of a job, shared by every job kind.
constexpr int kJobFinished = 1;
constexpr int kJobCancelled = 2;
constexpr int kJobFailed = 3;

class ScanJob {
 public:
  ScanJob(IJobView& view, JobControl& control) : view_(view), control_(control) {}
  // Scans every target in order. kJobFailed when an engine could not be
  // created (later targets are not scanned); otherwise kJobFinished, also
  // after a cancel: what was found so far is kept.
  int Run(std::vector<JobTarget*>& targets, bool professional);
  bool Cancelled() const { return cancelled_; }

 private:
  static int32_t OnProgress(void* context, int32_t percent, int32_t weight, int32_t etaSeconds,
                            uint64_t sectorsDone, uint64_t sectorsTotal, uint64_t filesFound,
                            uint32_t reserved);
  IJobView& view_;
  JobControl& control_;
  bool cancelled_ = false;
};

}  // namespace nuvarin
