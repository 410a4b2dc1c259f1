// CFileTypeRecovery: the engine that finds files by their signatures in raw
// sectors. It does not walk an area itself: the deep scan (or the sweep
// harness) hands it every sector no file-system search claimed, through
// CarveAt. Its log is flat; recovery copies one contiguous run of sectors.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "signature/catalogue.h"
#include "storage/recovery_engine.h"
#include "storage/scan_log_store.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CFileTypeRecovery : public IFileRecoveryParse {
 public:
  CFileTypeRecovery();
  ~CFileTypeRecovery() override;
  CFileTypeRecovery(const CFileTypeRecovery&) = delete;
  CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                   uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                              int32_t weight) override;
  int32_t OpenLog(const char* logName) override;  // nothing to do: the deep scan names the log
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override;
  int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetItemCount() override;
  int32_t GetItemPath(const FoundItem* item, std::string& path) override;
  int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                      uint32_t baseDepth) override;
  int32_t NextFreeExtent(uint64_t& position, uint64_t& length) override;
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override;
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                      uint32_t& bufferSize, ShortCallback callback, void* context) override;

  // Identifies and sizes the file that starts in `sector` (absolute sector
  // `absoluteSector` of `device`), logs it and sets `skip` to the sectors the
  // caller may pass over. 87: nothing carvable (skip untouched); -9527:
  // cancelled while sizing (nothing logged).
  int32_t CarveAt(uint32_t sectorSize, const uint8_t* sector, size_t length, const SectorDevice& device,
                  uint64_t absoluteSector, uint64_t sectorsDone, uint64_t totalSectors, int32_t etaSeconds,
                  uint64_t& itemsFound, uint64_t& skip);

  // A sweep starts: resets the process-wide carving state (CarveState::Reset).
  void BeginScan();
  // Replaces the log with the existing log `logName` in the current scan folder
  // (a deep scan that continues where it stopped).
  int32_t ReopenLog(const char* logName);
  // Writes pending records to the log file.
  int32_t FlushLog();

  const SectorDevice& Device() const { return device_; }
  // The file that the last successful CarveAt logged.
  const CarveHit& LastHit() const { return lastHit_; }
  ScanLogStore* Store() { return store_.get(); }

 private:
  int32_t CreateLog(uint64_t startSector);
  // Copies the item's run of sectors to `sink` in 64 KiB pieces.
  template <class Sink>
  int32_t CopyItem(const FoundItem& item, uint64_t limit, Sink&& sink);

  SectorDevice device_;
  std::unique_ptr<ScanLogStore> store_;
  uint16_t driveLetter_ = 0;
  uint64_t areaStart_ = 0;
  uint64_t areaSectors_ = 0;
  uint32_t sectorSize_ = 512;
  ProgressCallback progress_ = nullptr;
  FileCallback file_ = nullptr;
  void* context_ = nullptr;
  int32_t weight_ = 0;
  ShortCallback searchCallback_ = nullptr;
  void* searchContext_ = nullptr;
  std::vector<uint8_t> copyBuffer_;
  CarveHit lastHit_;
};

}  // namespace nuvarin
