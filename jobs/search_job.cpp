#include "jobs/search_job.h"

#include "jobs/scan_job.h"

namespace nuvarin {

int32_t SearchJob::OnProgress(void* context, int32_t percent, int32_t /*errorCode*/) {
  auto* self = static_cast<SearchJob*>(context);
  std::lock_guard<std::mutex> guard(self->control_.Lock());
  if (self->control_.Cancelled()) return kCancelCode;
  JobProgress p;
  p.percent = percent;
  self->view_.OnProgress(p);
  return 0;
}

int SearchJob::Run(std::vector<JobTarget*>& targets, const std::string& pattern,
                   std::vector<JobFinding>& results) {
  for (JobTarget* target : targets) {
    if (!target->engine) break;
    view_.OnStage("Searching " + target->description);
    target->engine->SetSearchCallback(&SearchJob::OnProgress, this);
    std::vector<FoundItem> found;
    int32_t rc = target->engine->SearchItems(pattern, found);
    results.reserve(results.size() + found.size());
    for (const FoundItem& item : found) results.push_back(JobFinding{item, target});
    if (rc == kCancelCode) break;
  }
  control_.MarkDone();
  return kJobFinished;
}

}  // namespace nuvarin
