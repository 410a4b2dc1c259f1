#include "jobs/image_job.h"

#include <mutex>

#include "platform/error_codes.h"

namespace nuvarin {

int32_t ImageJob::OnProgress(void* context, int32_t percent, uint64_t sectorsDone, uint64_t sectorsTotal,
                             int32_t etaSeconds) {
  auto* self = static_cast<ImageJob*>(context);
  std::lock_guard<std::mutex> guard(self->control_.Lock());
  if (self->control_.Cancelled()) return kCancelCode;
  JobProgress p;
  p.percent = percent;
  p.etaSeconds = etaSeconds;
  p.sectorsDone = sectorsDone;
  p.sectorsTotal = sectorsTotal;
  self->view_.OnProgress(p);
  return 0;
}

int ImageJob::Run(const ImageJobInput& input) {
  view_.OnStage("Creating image " + input.imagePath.string());
  uint32_t disk = input.diskNumber;
  uint64_t first = 0, count = 0;
  if (!input.sources.empty()) {
    const PartitionRecord& r = input.sources.front();
    disk = r.diskNumber < 0 ? UINT32_MAX : static_cast<uint32_t>(r.diskNumber);
    first = r.firstSector;
    count = r.sectorCount;
  }
  copier_ = ImageCopier{};
  copier_.callback = &ImageJob::OnProgress;
  copier_.skipBad = input.skipBad;
  result_ = input.diskDevice.empty()
                ? CreateImage(copier_, disk, first, count, input.imagePath, this)
                : CreateImageFromPath(copier_, input.diskDevice, first, count, input.imagePath, this);
  control_.MarkDone();
  if (result_ == kOk) return kJobFinished;
  return result_ == kCancelCode ? kJobCancelled : kJobFailed;
}

}  // namespace nuvarin
