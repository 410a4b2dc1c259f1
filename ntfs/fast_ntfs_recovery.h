// CFastNtfsRecovery: the deleted-file scan of a live NTFS volume. It sweeps the
// MFT through the $MFT's own runs, lists every record that is neither in use
// nor a folder, rebuilds folder paths from parent references (folders whose
// records were reused become "LostFolder%d") and writes the findings to a
// "Fast_" scan log. It also serves the volume's allocation bitmap to the deep
// scan's free-space sweep.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/data_location.h"
#include "ntfs/ntfs_extraction.h"
#include "ntfs/run_list.h"
#include "storage/recovery_engine.h"
#include "storage/scan_log_store.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CFastNtfsRecovery final : public IFileRecoveryParse {
 public:
  // Records per sweep read.
  static constexpr uint32_t kChunkRecords = 1024;
  // Longest parent chain followed for one finding.
  static constexpr uint32_t kMaxFolderDepth = 4096;

  // The content check: 1 when the bytes fit the extension (or cannot be judged), 0 otherwise.
  using ContentChecker = int32_t (*)(const uint8_t* bytes, size_t length, std::string_view extension,
                                     const SectorDevice& device, uint32_t sectorSize, uint64_t sector);

  CFastNtfsRecovery();
  ~CFastNtfsRecovery() override;

  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount, uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context, int32_t weight) override;
  int32_t OpenLog(const char* logName) override;
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override;
  int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetItemCount() override;
  int32_t GetItemPath(const FoundItem* item, std::string& path) override;
  int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination, uint32_t baseDepth) override;
  int32_t NextFreeExtent(uint64_t& position, uint64_t& length) override;
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override;
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer, uint32_t& bufferSize,
                      ShortCallback callback, void* context) override;

  // Inspection and test hooks.
  const NtfsGeometry& Geometry() const { return geometry_; }
  const std::vector<DataRun>& MftRuns() const { return mftRuns_; }
  const std::vector<uint32_t>& FolderList() const { return folderList_; }
  uint64_t BitmapBytes() const { return bitmapBytes_; }
  ScanLogStore* Log() { return log_.get(); }
  void SetContentChecker(ContentChecker checker) { checker_ = checker; }
  // The record-data look-ups of this engine (attribute lists included).
  NtfsDataLookup DataLookup() const;

 private:
  enum class Mode { kSweep, kFolder };
  struct FolderInfo {
    bool continues = false;  // a readable folder record with a file name
    uint32_t parent = 0;
  };

  int32_t OpenArea(uint64_t volumeStart);
  int32_t Scan();
  void ProcessRecord(uint8_t* record, size_t size, uint64_t lba, Mode mode, uint32_t missing);
  uint32_t CollectAncestors(uint32_t parent);
  const FolderInfo& LookupFolder(uint32_t record);
  uint32_t ContentCheck(ByteReader record, uint64_t lba, std::string_view name);
  void AppendLostFolder(uint32_t number);
  void CommitItem(const FoundItem& item, RelationKey key, const char* folderName);
  NtfsVolume Volume() const { return NtfsVolume{&device_, geometry_, &mftRuns_}; }

  SectorDevice device_;
  NtfsGeometry geometry_;
  bool opened_ = false;
  int32_t mftError_ = kErrNoAttribute;
  uint64_t sectorCount_ = 0;
  uint16_t driveLetter_ = 0;
  std::vector<uint8_t> chunk_;
  std::vector<uint8_t> recordBuffer_;
  std::vector<DataRun> mftRuns_;
  std::vector<uint32_t> folderList_;
  std::unordered_set<uint32_t> folderSet_;
  std::unordered_map<uint32_t, FolderInfo> folderInfo_;
  std::vector<uint8_t> bitmap_;
  uint64_t bitmapBytes_ = 0;
  std::unique_ptr<ScanLogStore> log_;
  ProgressCallback progress_ = nullptr;
  FileCallback fileCallback_ = nullptr;
  void* context_ = nullptr;
  int32_t weight_ = 100;
  ShortCallback searchCallback_ = nullptr;
  void* searchContext_ = nullptr;
  ContentChecker checker_;
};

}  // namespace nuvarin
