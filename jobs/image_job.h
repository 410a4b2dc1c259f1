// The image job: copies the chosen disk area (or a whole disk) into an image
// file on the worker thread, reporting to the view and stopping at the next
// progress report once the user cancelled.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>

#include "disks/image_copier.h"
#include "disks/partition_record.h"
#include "jobs/job_control.h"
#include "jobs/job_view.h"
#include "jobs/scan_job.h"

namespace nuvarin {

struct ImageJobInput {
  std::filesystem::path imagePath;
  // The selected record; empty when a whole disk is imaged.
  std::vector<PartitionRecord> sources;
  uint32_t diskNumber = 0;  // the disk to image when `sources` is empty
  // The disk's device when known: used instead of the disk number, which
  // names another disk once disks came or went after the list was built.
  std::filesystem::path diskDevice;
  bool skipBad = false;  // read around unreadable sectors, listing them beside the image
};

class ImageJob {
 public:
  ImageJob(IJobView& view, JobControl& control) : view_(view), control_(control) {}
  // Runs the copy and marks the job done. kJobFinished, kJobCancelled when the
  // copier returned the cancel code, kJobFailed for any other error.
  int Run(const ImageJobInput& input);
  // The copier's result (0, a system error, 30, or the cancel code).
  int32_t Result() const { return result_; }
  const ImageCopier& Copier() const { return copier_; }

 private:
  static int32_t OnProgress(void* context, int32_t percent, uint64_t sectorsDone, uint64_t sectorsTotal,
                            int32_t etaSeconds);
  IJobView& view_;
  JobControl& control_;
  ImageCopier copier_;
  int32_t result_ = 0;
};

}  // namespace nuvarin
