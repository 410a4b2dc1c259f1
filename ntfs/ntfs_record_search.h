// CProfessionalNtfsRecovery: MFT file records found anywhere in an area by the
// deep scan's sweep, turned into findings with their volume and folder chain.
//
// The engine walks no MFT. The sweep hands it every sector that starts a
// plausible file record; the engine works out which NTFS volume the record
// belongs to (from the $MFT records met so far, else by taking the MFT as
// contiguous), follows the parent references up to the root and writes the
// finding to a "Pro_Ntfs_" scan log. Folders are collected on the way and
// written by the folder pass after the sweep. Every read stays inside the
// area the engine was opened on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/ntfs_extraction.h"
#include "ntfs/run_list.h"
#include "storage/byte_reader.h"
#include "storage/recovery_engine.h"
#include "storage/scan_log_store.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CProfessionalNtfsRecovery final : public IFileRecoveryParse {
 public:
  enum class CandidateMode { kSweep, kFolder };
  // What one sector of the sweep holds, by the cheap in-memory test.
  enum class SectorKind { kNone, kFileRecord, kDirectoryRecord };

  // Longest parent chain followed for one finding.
  static constexpr uint32_t kMaxFolderDepth = 4096;
  // Folder records remembered by the ancestor walk before the memo starts over.
  static constexpr size_t kMaxFolderMemo = 1u << 18;
  // $MFT records registered at most (each record met is tested against every volume).
  static constexpr size_t kMaxVolumes = 256;

  // The content check: 1 when the bytes fit the extension (or cannot be judged), 0 otherwise.
  using ContentChecker = int32_t (*)(const uint8_t* bytes, size_t length, std::string_view extension,
                                     const SectorDevice& device, uint32_t sectorSize, uint64_t sector);

  // Record size the sweep tests candidates with: two sectors of 512 bytes or less, else one sector.
  static uint32_t SweepRecordSize(uint32_t bytesPerSector);
  // The sweep's candidate test on a sector in memory (`length` bytes from its start): "FILE",
  // bytes in use at most the sweep record size, bytes allocated exactly that size, and the update
  // sequence number equal to the word at offset 510.
  static SectorKind ClassifySector(const uint8_t* sector, size_t length, uint32_t bytesPerSector);
  // Sectors per cluster assumed for an area without a usable boot sector, by its size.
  static uint32_t DefaultSectorsPerCluster(uint64_t sectors, uint32_t bytesPerSector);

  CProfessionalNtfsRecovery();
  ~CProfessionalNtfsRecovery() override;

  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount, uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context, int32_t weight) override;
  // The log is opened by OpenProLog; this does nothing.
  int32_t OpenLog(const char* logName) override;
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override;
  int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetItemCount() override;
  int32_t GetItemPath(const FoundItem* item, std::string& path) override;
  int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination, uint32_t baseDepth) override;
  int32_t NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer, uint32_t& bufferSize,
                      ShortCallback callback, void* context) override;

  // Operations the deep scan calls besides the slots:
  // opens an existing log by name, or creates "Pro_Ntfs_..." when null/empty.
  int32_t OpenProLog(const char* name);
  // One record (its bytes, at least one record long) found at `absoluteSector`.
  int32_t HandleCandidateRecord(const uint8_t* record, size_t length, uint64_t absoluteSector,
                                CandidateMode mode, uint32_t missingNumber);
  // The folder pass after the sweep; a second call writes only the folders met since the first.
  int32_t FinishFolders();
  // First absolute sector of a file finding's data (kinds 0 and 2), for the
  // removal of carved duplicates; false for resident files and unreadable runs.
  bool FirstDataSector(const FoundItem& item, uint64_t& sector);

  // The content check (the signature catalogue's by default); null: every file passes.
  void SetContentChecker(ContentChecker checker) { checker_ = checker; }

  // Inspection (tests and the deep scan).
  uint32_t BytesPerSector() const { return geometry_.bytesPerSector; }
  uint32_t RecordSize() const { return geometry_.recordSize; }
  uint64_t AreaStart() const { return areaStart_; }
  uint64_t AreaSectors() const { return areaSectors_; }
  uint32_t ClusterEstimate() const { return clusterEstimate_; }
  size_t VolumeCount() const { return volumes_.size(); }
  // Volume starts of the $MFT records registered so far, by the sector of their record 0.
  std::map<uint64_t, uint64_t> VolumeStarts() const;
  size_t FolderCount() const { return folderList_.size(); }
  ScanLogStore* Log() { return log_.get(); }
  // The record-data look-ups of this engine (its record-bounded walks).
  NtfsDataLookup DataLookup();

 private:
  using Runs = std::shared_ptr<const std::vector<DataRun>>;
  // Where one record's MFT lives: what the parent walk and the folder pass need to read it again.
  struct VolumeData {
    uint64_t volumeStart = 0;
    uint32_t sectorsPerCluster = 1;
    Runs mftRuns;
  };
  struct MftVolume {
    Runs runs;
    uint32_t sectorsPerCluster = 0;  // from the $MFT record's own data attribute; 0 when unknown
  };
  struct FolderEntry {
    uint32_t recordNumber = 0;
    VolumeData volume;
  };
  // One folder record as the parent walk read it (by its sector).
  struct FolderProbe {
    bool continues = false;  // a readable folder record whose number matched, with a file name
    uint32_t ownNumber = 0;
    uint32_t parent = 0;
  };

  void ResetArea();
  int32_t OpenArea(uint64_t start, uint64_t count);
  // Reads the 8 KiB at `lba` when the record lies inside the area; 87 when it does not.
  int32_t ReadRecordInArea(uint64_t lba, uint8_t* buffer);
  // Reads, tests and fixes up the record at `lba` into `buffer`; -1 when it is no record.
  int32_t LoadRecord(uint64_t lba, uint8_t* buffer);
  // The runs of a fixed-up record's first data attribute within the record size.
  int32_t RecordDataRuns(ByteReader record, std::vector<DataRun>& runs, int32_t listResult) const;
  // Sectors per cluster of a non-resident data attribute: allocated bytes over the clusters of
  // its runs, when they agree exactly; 0 otherwise.
  uint32_t ClusterSizeOfRecord(ByteReader record) const;
  void RegisterVolume(ByteReader record, uint64_t sector);
  VolumeData FindVolumeOfRecord(uint32_t recordNumber, uint64_t sector);
  uint64_t LocateRecord(uint32_t recordNumber, const VolumeData& volume) const;
  uint32_t CollectAncestors(uint32_t parent, const VolumeData& volume);
  const FolderProbe& ProbeFolder(uint64_t lba, uint32_t expected);
  void AddFolderEntry(uint32_t recordNumber, const VolumeData& volume);
  uint32_t ContentCheck(ByteReader record, uint64_t lba, std::string_view name, uint32_t clusterSize,
                        uint64_t volumeStart);
  void AppendLostFolder(uint32_t number, uint64_t volumeStart);
  void CommitItem(const FoundItem& item, RelationKey key, const char* folderName);

  SectorDevice device_;
  NtfsGeometry geometry_;  // bytes per sector, sectors per record and record size of the area
  bool opened_ = false;
  uint64_t areaStart_ = 0;
  uint64_t areaSectors_ = 0;
  uint16_t driveLetter_ = 0;
  uint32_t clusterEstimate_ = 8;
  std::map<uint64_t, MftVolume> volumes_;
  std::vector<FolderEntry> folderList_;
  size_t foldersDone_ = 0;  // entries the folder pass has written
  std::unordered_set<uint32_t> folderSet_;
  std::unordered_map<uint64_t, FolderProbe> folderMemo_;
  const FolderEntry* currentFolder_ = nullptr;  // set while the folder pass handles an entry
  std::vector<uint8_t> record_;   // the candidate being processed
  std::vector<uint8_t> scratch_;  // parent records and look-ups
  std::unique_ptr<ScanLogStore> log_;
  ProgressCallback progress_ = nullptr;
  FileCallback fileCallback_ = nullptr;
  void* context_ = nullptr;
  int32_t weight_ = 100;
  ShortCallback searchCallback_ = nullptr;
  void* searchContext_ = nullptr;
  ContentChecker checker_ = nullptr;
};

}  // namespace nuvarin
