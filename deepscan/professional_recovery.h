// CProfessionalRecovery: the formatted and deep scans. It runs the fast engine
// of the live file system first (when there is one), then reads the area once
// in 64 KiB buffers and hands every sector to exactly one of three searches:
// NTFS file records, FAT directory entries, and file signatures. Each search
// keeps its own log; the composite merges them for the views, routes item
// operations by the finding's source kind, and records its position in the
// scan log index so that a stopped scan continues where it stopped.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "storage/recovery_engine.h"
#include "storage/resumable_scan.h"
#include "storage/scan_log_index.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CFileTypeRecovery;
class CProfessionalFatRecovery;
class CProfessionalNtfsRecovery;

// Disk index the deep scan records for an image file.
constexpr uint32_t kImageDiskIndex = 128;

class CProfessionalRecovery final : public IFileRecoveryParse, public IResumableScan {
 public:
  CProfessionalRecovery();
  ~CProfessionalRecovery() override;

  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                   uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                              int32_t weight) override;
  int32_t OpenLog(const char* logName) override;
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override;
  int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetItemCount() override;
  int32_t GetItemPath(const FoundItem* item, std::string& path) override;
  int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                      uint32_t baseDepth) override;
  int32_t NextFreeExtent(uint64_t& position, uint64_t& length) override { return 0; }
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                      uint32_t& bufferSize, ShortCallback callback, void* context) override;

  // IResumableScan
  bool Resuming() const override { return resuming_; }
  void ClearResuming() override { resuming_ = false; }
  std::filesystem::path PreviousScanFolder() const override { return previousFolder_; }

  // Figures of the last sweep (tests and benchmarks).
  struct SweepStats {
    uint64_t sectorsTotal = 0;
    uint64_t sectorsDone = 0;
    uint64_t bytesRead = 0;
    bool freeSpaceMode = false;
    bool resumed = false;
  };
  const SweepStats& LastSweep() const { return stats_; }

 private:
  struct SweepPosition {
    uint64_t extentStart = 0;   // relative to the area start
    uint64_t extentLength = 0;
    uint64_t offset = 0;        // inside the extent
    uint64_t done = 0;
    uint64_t foundOffset = 0;   // findings of the earlier runs of a resumed scan
  };

  void ResetArea();
  void LookUpPreviousScan();
  int32_t OpenMemberLogs();
  int32_t Sweep(bool freeSpaceMode, SweepPosition& pos);
  // Hands the `count` sectors in `buffer` (read at absolute sector `first`) to
  // the searches; `overrun` receives the sectors consumed beyond the buffer,
  // or, with the cancel code, the sectors of the buffer handled before it.
  int32_t DispatchBuffer(const uint8_t* buffer, uint64_t count, uint64_t first, const SweepPosition& pos,
                         uint64_t total, int32_t eta, uint64_t& overrun);
  IFileRecoveryParse* EngineOfKind(uint32_t sourceKind, bool includeCarver);
  uint32_t SweepRecordSize() const;

  uint32_t diskIndex_ = 0;
  uint64_t areaStart_ = 0;
  uint64_t sectorCount_ = 0;
  uint16_t driveLetter_ = 0;
  uint32_t bytesPerSector_ = 512;
  SectorDevice device_;
  std::filesystem::path imagePath_;
  std::filesystem::path recordedImagePath_;  // kept for the index entry after the scan

  std::unique_ptr<CProfessionalFatRecovery> fatSearch_;
  std::unique_ptr<CProfessionalNtfsRecovery> ntfsSearch_;
  std::unique_ptr<CFileTypeRecovery> carver_;
  std::unique_ptr<IFileRecoveryParse> fast_;

  ProgressCallback progress_ = nullptr;
  FileCallback file_ = nullptr;
  void* context_ = nullptr;
  int32_t weight_ = 90;
  ShortCallback search_ = nullptr;
  void* searchContext_ = nullptr;

  bool resuming_ = false;
  ResumeState resumeState_{};
  std::filesystem::path previousFolder_;
  SweepStats stats_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> recordBuffer_;
};

}  // namespace nuvarin
