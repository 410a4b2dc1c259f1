// CFastFatRecovery: the deleted-file scan of a FAT12/16/32 volume. It trusts
// the boot sector and the FAT, walks the directory tree breadth first from
// the root, and logs every deleted file, every file inside a deleted folder,
// and the folders that lead to them.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fat/boot_values.h"
#include "fat/entry_names.h"
#include "fat/fat_table.h"
#include "storage/recovered_output.h"
#include "storage/recovery_engine.h"
#include "storage/scan_log_store.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CFastFatRecovery : public IFileRecoveryParse {
 public:
  // Directories longer than this (the format's limit of 65,536 entries) are
  // read no further.
  static constexpr uint64_t kMaxDirectoryBytes = 65536ull * 32;
  // Folder levels counted through ".." entries at most.
  static constexpr uint32_t kMaxFolderLevel = 4096;
  // High cluster words tried when a deleted FAT32 entry lost its high word.
  static constexpr uint32_t kMaxHighWord = 256;

  CFastFatRecovery();
  ~CFastFatRecovery() override;

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
  int32_t NextFreeExtent(uint64_t& position, uint64_t& length) override;
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override;
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                      uint32_t& bufferSize, ShortCallback callback, void* context) override;

  // For the deep scan and the tests.
  const FatGeometry& Geometry() const { return geometry_; }
  ScanLogStore* Store() { return store_.get(); }
  // The level of a folder below the root, counted through its ".." entries.
  uint32_t FolderLevel(uint32_t cluster);
  uint32_t FindFolderHighWord(uint16_t low);
  uint32_t FindFileHighWord(const std::string& name, uint16_t low);
  FatTable& Table() { return fat_; }

 private:
  // A folder met in a directory, kept until the scan knows whether a finding
  // lies below it.
  struct FolderInfo {
    uint32_t parentId = 0;
    bool deleted = false;
    EntryTimeValues times;
    uint64_t entrySector = 0;  // absolute sector of the folder's entry
    std::string name;
  };

  int32_t OpenVolume();
  int32_t RunScan();
  int32_t ScanDirectory(uint32_t cluster);
  void WriteFileRecord(const ByteReader& entry, const std::string& name, uint32_t parentId,
                       uint64_t entrySector);
  void MarkNeededFolders(uint32_t parentId);
  int32_t WriteFolderRecords();
  uint32_t ContentCheck(const std::string& name, uint32_t cluster);
  bool IsRootId(uint32_t cluster) const;
  // One volume sector at absolute sector `sector` into `out` (bytesPerSector).
  bool ReadOneSector(uint64_t sector, std::vector<uint8_t>& out);
  int32_t Report(int32_t percent, int32_t eta);
  int32_t RecoverOne(const FoundItem& item, const std::filesystem::path& path, RecoverQueue& queue);

  SectorDevice device_;
  uint64_t start_ = 0;         // area start, in the source's sectors
  uint64_t sectorCount_ = 0;   // area length, in the source's sectors
  uint16_t driveLetter_ = 0;
  uint32_t bytesPerSector_ = 512;
  FatGeometry geometry_;
  FatTable fat_;

  std::unordered_map<uint32_t, FolderInfo> folders_;
  std::deque<uint32_t> queue_;
  std::unordered_set<uint32_t> scanned_;
  std::vector<uint32_t> needed_;
  std::unordered_set<uint32_t> neededSet_;
  std::unordered_map<uint32_t, uint32_t> levelCache_;
  std::vector<uint8_t> bitmap_;  // bit i: cluster i + 2 allocated
  uint64_t bitmapClusters_ = 0;

  std::unique_ptr<ScanLogStore> store_;
  ProgressCallback progress_ = nullptr;
  FileCallback fileCallback_ = nullptr;
  void* context_ = nullptr;
  int32_t weight_ = 0;
  ShortCallback searchCallback_ = nullptr;
  void* searchContext_ = nullptr;
};

}  // namespace nuvarin
