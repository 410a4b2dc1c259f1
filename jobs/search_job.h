// The search job: every scanned target's log searched for the chosen file
// types, with progress and cancel.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_control.h"
#include "jobs/job_target.h"
#include "jobs/job_view.h"
#include "storage/found_item.h"

namespace nuvarin {

// A finding together with the target whose engine made it.
struct JobFinding {
  FoundItem item;
  JobTarget* target = nullptr;
};

class SearchJob {
 public:
  SearchJob(IJobView& view, JobControl& control) : view_(view), control_(control) {}
  // Appends the findings of every target in order. A target without an engine
  // ends the job early (its scan failed); kJobFinished in every case.
  int Run(std::vector<JobTarget*>& targets, const std::string& pattern, std::vector<JobFinding>& results);
  bool Cancelled() const { return control_.Cancelled(); }

 private:
  static int32_t OnProgress(void* context, int32_t percent, int32_t errorCode);
  IJobView& view_;
  JobControl& control_;
};

}  // namespace nuvarin
