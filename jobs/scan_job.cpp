#include "jobs/scan_job.h"

#include "storage/engine_factory.h"
#include "storage/resumable_scan.h"
#include "storage/scan_log_index.h"

namespace nuvarin {

int32_t ScanJob::OnProgress(void* context, int32_t percent, int32_t weight, int32_t etaSeconds,
                            uint64_t sectorsDone, uint64_t sectorsTotal, uint64_t filesFound,
                            uint32_t /*reserved*/) {
  auto* self = static_cast<ScanJob*>(context);
  std::lock_guard<std::mutex> guard(self->control_.Lock());
  if (self->control_.Cancelled()) return kCancelCode;
  JobProgress p;
  p.percent = static_cast<int32_t>(static_cast<int64_t>(percent) * weight / 100);
  p.etaSeconds = etaSeconds;
  p.sectorsDone = sectorsDone;
  p.sectorsTotal = sectorsTotal;
  p.filesFound = filesFound;
  self->view_.OnProgress(p);
  return 0;
}

int ScanJob::Run(std::vector<JobTarget*>& targets, bool professional) {
  cancelled_ = false;
  int code = kJobFinished;
  for (JobTarget* target : targets) {
    view_.OnStage("Scanning " + target->description);
    target->engine.reset();
    target->scanned = false;
    const ScanTarget& a = target->area;
    target->engine = a.IsImage()
                         ? CreateEngineForImage(a.imagePath, a.driveLetter, professional)
                         : CreateEngineForDisk(a.diskIndex, a.startSector, a.sectorCount, a.driveLetter,
                                               professional);
    if (!target->engine) {
      code = kJobFailed;
      break;
    }
    if (!professional) {
      ScanLogIndex::Instance().NewScanFolder();
    } else if (auto* resumable = dynamic_cast<IResumableScan*>(target->engine.get());
               resumable && resumable->Resuming()) {
      if (!view_.AskContinuePrevious(target->description)) {
        std::filesystem::path previous = resumable->PreviousScanFolder();
        resumable->ClearResuming();
        ScanLogIndex::Instance().RemoveEntry(previous);
        view_.OnMessage("Starting a new deep scan of " + target->description + ".");
      } else {
        view_.OnMessage("Continuing the earlier deep scan of " + target->description + " where it stopped.");
      }
    }
    target->engine->SetProgressCallback(&ScanJob::OnProgress, nullptr, this, 100);
    target->scanResult = target->engine->OpenLog(nullptr);
    target->scanned = true;
    if (target->scanResult == kCancelCode || control_.Cancelled()) {
      cancelled_ = true;
      break;
    }
  }
  control_.MarkDone();
  return code;
}

}  // namespace nuvarin
