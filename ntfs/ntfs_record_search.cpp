// The record search's opening of an area, its log and the slot operations that
// read the log back and extract findings.
#include "ntfs/ntfs_record_search.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/data_location.h"
#include "ntfs/mft_record.h"
#include "platform/error_codes.h"
#include "signature/catalogue.h"
#include "storage/boot_probes.h"
#include "storage/recovered_output.h"
#include "storage/scan_log_index.h"

namespace nuvarin {

uint32_t CProfessionalNtfsRecovery::SweepRecordSize(uint32_t bytesPerSector) {
  return bytesPerSector <= 512 ? 2 * bytesPerSector : bytesPerSector;
}

CProfessionalNtfsRecovery::SectorKind CProfessionalNtfsRecovery::ClassifySector(const uint8_t* sector, size_t length,
                                                                                uint32_t bytesPerSector) {
  ByteReader r(sector, length);
  if (!MftRecordHeader::IsRecord(r) || !r.has(510, 2)) return SectorKind::kNone;
  const uint32_t size = SweepRecordSize(bytesPerSector);
  if (MftRecordHeader::BytesInUse(r) > size || MftRecordHeader::BytesAllocated(r) != size) return SectorKind::kNone;
  if (MftRecordHeader::UpdateSequenceNumber(r) != r.le16(510)) return SectorKind::kNone;
  return MftRecordHeader::IsDirectory(r) ? SectorKind::kDirectoryRecord : SectorKind::kFileRecord;
}

uint32_t CProfessionalNtfsRecovery::DefaultSectorsPerCluster(uint64_t sectors, uint32_t bytesPerSector) {
  uint64_t bytes;
  if (!CheckedMul<uint64_t>(sectors, bytesPerSector, bytes)) bytes = UINT64_MAX;
  const uint64_t mib = bytes / 1048576;
  const uint64_t k = std::max<uint32_t>(1, bytesPerSector / 512);
  if (mib <= 7 * k) return 8;
  if (mib <= 512 * k) return 1;
  if (mib <= 1024 * k) return 2;
  if (mib <= 2048 * k) return 4;
  return 8;
}

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery()
    : record_(kMftReadBytes), scratch_(kMftReadBytes), checker_(&MatchesExtension) {}

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() = default;

void CProfessionalNtfsRecovery::ResetArea() {
  device_.Close();
  opened_ = false;
  areaStart_ = 0;
  areaSectors_ = 0;
  volumes_.clear();
  folderList_.clear();
  foldersDone_ = 0;
  folderSet_.clear();
  folderMemo_.clear();
}

int32_t CProfessionalNtfsRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  ResetArea();
  driveLetter_ = driveLetter;
  int32_t rc = OpenImageFile(imagePath, device_);
  if (rc != kOk) return rc;
  device_.bytesPerSector = 512;
  return OpenArea(0, device_.sectorCount);
}

int32_t CProfessionalNtfsRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                            uint16_t driveLetter) {
  ResetArea();
  driveLetter_ = driveLetter;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  if (rc != kOk) return rc;
  return OpenArea(startSector, sectorCount);
}

int32_t CProfessionalNtfsRecovery::OpenArea(uint64_t start, uint64_t count) {
  uint32_t bps = device_.bytesPerSector;
  if (bps == 0 || bps % 512 != 0 || bps > 4096) bps = 512;
  geometry_ = NtfsGeometry{};
  geometry_.bytesPerSector = bps;
  geometry_.sectorsPerRecord = bps == 512 ? 2 : 1;
  geometry_.recordSize = bps * geometry_.sectorsPerRecord;
  geometry_.sectorsPerCluster = 1;

  // The area is what the engine may read: the device is cut at its end, and
  // reads before its start are refused by ReadRecordInArea.
  if (start >= device_.sectorCount) {
    device_.Close();
    return kErrInvalidParameter;
  }
  count = std::min(count, device_.sectorCount - start);
  areaStart_ = start;
  areaSectors_ = count;
  device_.sectorCount = start + count;
  geometry_.volumeStart = start;
  clusterEstimate_ = DefaultSectorsPerCluster(count, bps);

  std::vector<uint8_t> boot(kNtfsBootAreaBytes, 0);
  uint64_t got = 0;
  uint64_t want = std::min<uint64_t>(kNtfsBootAreaBytes / bps, count);
  int32_t rc = ReadSectors(want, device_, boot.data(), start, bps, got);
  if (rc != kOk) return rc;
  if (got == 0) return kErrReadFault;
  opened_ = true;

  // A quick format keeps the cluster size: a boot sector at the start of the
  // area gives it, and its MFT is a volume known from the start.
  if (ProbeNtfsBoot(boot.data(), std::min<size_t>(boot.size(), got * bps))) {
    ByteReader r(boot.data(), boot.size());
    uint32_t bootBps = r.le16(0x0B) ? r.le16(0x0B) : 512;
    uint64_t clusterBytes = static_cast<uint64_t>(DecodeSectorsPerCluster(r.u8(0x0D))) * bootBps;
    if (clusterBytes >= bps && clusterBytes % bps == 0 && clusterBytes <= (2u << 20)) {
      uint32_t spc = static_cast<uint32_t>(clusterBytes / bps);
      clusterEstimate_ = spc;
      uint64_t offset, mftSector;
      if (CheckedMul<uint64_t>(r.le64(0x30), spc, offset) && CheckedAdd(start, offset, mftSector) &&
          mftSector < device_.sectorCount) {
        MftVolume volume;
        volume.sectorsPerCluster = spc;
        auto runs = std::make_shared<std::vector<DataRun>>();
        if (LoadRecord(mftSector, scratch_.data()) == kOk)
          RecordDataRuns(ByteReader(scratch_.data(), scratch_.size()), *runs, kErrInvalidParameter);
        volume.runs = std::move(runs);
        volumes_.emplace(mftSector, std::move(volume));
      }
    }
  }
  return kOk;
}

int32_t CProfessionalNtfsRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                                       int32_t weight) {
  progress_ = progress;
  fileCallback_ = file;
  context_ = context;
  weight_ = weight;
  return kOk;
}

int32_t CProfessionalNtfsRecovery::OpenLog(const char*) { return kOk; }

int32_t CProfessionalNtfsRecovery::OpenProLog(const char* name) {
  folderList_.clear();
  foldersDone_ = 0;
  folderSet_.clear();
  folderMemo_.clear();
  log_ = std::make_unique<ScanLogStore>();
  std::string logName = name && *name ? std::string(name) : MakeLogName("Pro_Ntfs_", areaStart_);
  int32_t rc = log_->Open(ScanLogIndex::Instance().CurrentLogFolder(), logName);
  if (searchCallback_) log_->SetSearchCallback(searchCallback_, searchContext_);
  // A continued scan: folders the earlier folder pass already wrote are not
  // written a second time (their children find them under the same key).
  if (rc == kOk)
    for (const DirInfoRecord& folder : log_->FolderNames()) folderSet_.insert(uint32_t{folder.objectId});
  return rc;
}

int32_t CProfessionalNtfsRecovery::ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) {
  if (!folder && depth != 0) return kErrInvalidParameter;
  if (!log_) return kOk;
  log_->Flush();
  return log_->ReadFolder(MakeRelationKey(depth, folder ? folder->objectId : 0), out);
}

int32_t CProfessionalNtfsRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kErrInvalidParameter;
  if (!log_) return kOk;
  log_->Flush();
  return log_->CountFolderFiles(MakeRelationKey(depth, folder ? folder->objectId : 0), count);
}

uint64_t CProfessionalNtfsRecovery::GetItemCount() { return log_ ? log_->AppendedCount() : 0; }

int32_t CProfessionalNtfsRecovery::GetItemPath(const FoundItem* item, std::string& path) {
  path.clear();
  if (!item || !log_) return kErrInvalidParameter;
  return log_->ItemPath(*item, path);
}

int32_t CProfessionalNtfsRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  searchCallback_ = callback;
  searchContext_ = context;
  if (!log_) return kErrInvalidParameter;
  log_->SetSearchCallback(callback, context);
  return kOk;
}

int32_t CProfessionalNtfsRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  if (!log_) return 0;
  return log_->SearchItems(pattern, out);
}

NtfsDataLookup CProfessionalNtfsRecovery::DataLookup() {
  NtfsDataLookup lookup;
  lookup.residentData = [this](uint64_t lba, std::vector<uint8_t>& value) -> int32_t {
    value.clear();
    if (LoadRecord(lba, scratch_.data()) != kOk) return kErrNoResidentData;
    return ResidentDataInRecord(geometry_, ByteReader(scratch_.data(), geometry_.recordSize), value);
  };
  lookup.dataRuns = [this](uint64_t lba, std::vector<DataRun>& runs) -> int32_t {
    runs.clear();
    int32_t rc = LoadRecord(lba, scratch_.data());
    if (rc != kOk) return rc;
    return RecordDataRuns(ByteReader(scratch_.data(), scratch_.size()), runs, kErrNoAttribute);
  };
  return lookup;
}

int32_t CProfessionalNtfsRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                               uint32_t baseDepth) {
  if (!item) return kErrInvalidParameter;
  if (!opened_) return kErrInvalidHandle;
  return RecoverNtfsItem(*this, *item, destination, baseDepth, device_, geometry_.bytesPerSector, DataLookup(),
                         fileCallback_, context_);
}

int32_t CProfessionalNtfsRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                                               uint32_t& bufferSize, ShortCallback callback, void* context) {
  if (!item) {
    bufferSize = 0;
    return kErrInvalidParameter;
  }
  if (!opened_) {
    bufferSize = 0;
    return kErrInvalidHandle;
  }
  return PreviewNtfsItem(item, outPath, buffer, bufferSize, callback, context, device_, geometry_.bytesPerSector,
                         DataLookup());
}

bool CProfessionalNtfsRecovery::FirstDataSector(const FoundItem& item, uint64_t& sector) {
  if (!opened_ || item.isFolder || item.clusterSize == 0 || item.clusterSize == kNoClusterSize) return false;
  if (LoadRecord(item.entrySector, scratch_.data()) != kOk) return false;
  ByteReader record(scratch_.data(), scratch_.size());
  std::vector<DataRun> runs;
  if (RecordDataRuns(record, runs, kErrNoAttribute) != kOk || runs.empty()) return false;
  const DataRun& first = runs.front();
  if (first.sparse || first.lcnDelta < 0) return false;
  uint64_t bytes, start;
  if (!CheckedMul<uint64_t>(item.clusterSize, static_cast<uint64_t>(first.lcnDelta), bytes) ||
      !CheckedAdd(item.volumeStartSector, bytes / geometry_.bytesPerSector, start))
    return false;
  sector = start;
  return true;
}

std::map<uint64_t, uint64_t> CProfessionalNtfsRecovery::VolumeStarts() const {
  std::map<uint64_t, uint64_t> out;
  for (const auto& [key, volume] : volumes_) {
    uint32_t spc = volume.sectorsPerCluster ? volume.sectorsPerCluster : clusterEstimate_;
    int64_t first = volume.runs && !volume.runs->empty() ? volume.runs->front().lcnDelta : 0;
    uint64_t product;
    if (first < 0 || !CheckedMul<uint64_t>(static_cast<uint64_t>(first), spc, product) || product > key) continue;
    out[key] = key - product;
  }
  return out;
}

}  // namespace nuvarin
