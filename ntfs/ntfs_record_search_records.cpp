// The record search's handling of one candidate record: validity, the volume
// it belongs to, the cluster-size estimate, its parent chain and the finding;
// and the folder pass that turns the collected parents into folder findings.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/data_location.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_record_search.h"
#include "platform/error_codes.h"
#include "platform/text.h"

namespace nuvarin {

namespace {

constexpr uint64_t kMaxClusterBytes = 2u << 20;  // 2 MiB, the largest NTFS cluster
constexpr uint64_t kNowhere = UINT64_MAX;

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

int32_t CProfessionalNtfsRecovery::ReadRecordInArea(uint64_t lba, uint8_t* buffer) {
  std::memset(buffer, 0, kMftReadBytes);
  if (!device_.IsOpen() || lba < areaStart_ || lba >= device_.sectorCount) return kErrInvalidParameter;
  return ReadMftRecord(device_, geometry_, lba, buffer);
}

int32_t CProfessionalNtfsRecovery::LoadRecord(uint64_t lba, uint8_t* buffer) {
  int32_t rc = ReadRecordInArea(lba, buffer);
  if (rc != kOk) return rc;
  if (!MftRecordHeader::IsRecord(ByteReader(buffer, kMftReadBytes))) return kErrNotMftRecord;
  ApplyFixups(buffer, kMftReadBytes, geometry_);
  return kOk;
}

int32_t CProfessionalNtfsRecovery::RecordDataRuns(ByteReader record, std::vector<DataRun>& runs,
                                                  int32_t listResult) const {
  if (MftRecordHeader::FirstAttribute(record) >= geometry_.recordSize) return kErrInvalidParameter;
  AttributeWalk walk(record, WalkRule::RecordBounded(geometry_.recordSize, false));
  AttributeView a;
  while (walk.Next(a)) {
    // The engine cannot follow an attribute list without the volume's MFT map.
    if (a.type == kAttrAttributeList) return listResult;
    if (a.type != kAttrData) continue;
    if (!a.NonResident()) return kErrNoAttribute;
    DecodeRunList(a, runs);
    return kOk;
  }
  return kErrNoAttribute;
}

uint32_t CProfessionalNtfsRecovery::ClusterSizeOfRecord(ByteReader record) const {
  AttributeWalk walk(record, WalkRule::RecordBounded(geometry_.recordSize, true));
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrAttributeList) return 0;
    if (a.type != kAttrData) continue;
    if (!a.NonResident()) return 0;
    std::vector<DataRun> runs;
    DecodeRunList(a, runs);
    const uint64_t clusters = TotalClusters(runs);
    const uint32_t bps = geometry_.bytesPerSector;
    if (clusters == 0 || clusters == UINT64_MAX) return 0;
    const uint64_t spc = a.AllocatedSize() / bps / clusters;
    // Only an exact figure is believed: allocated bytes that are not the
    // clusters of the runs times a power-of-two cluster come from a record
    // whose runs continue elsewhere, or from damage.
    uint64_t expect;
    if (!IsPowerOfTwo(spc) || spc * bps > kMaxClusterBytes) return 0;
    if (!CheckedMul<uint64_t>(clusters, spc * bps, expect) || expect != a.AllocatedSize()) return 0;
    return static_cast<uint32_t>(spc);
  }
  return 0;
}

void CProfessionalNtfsRecovery::RegisterVolume(ByteReader record, uint64_t sector) {
  if (volumes_.count(sector) || volumes_.size() >= kMaxVolumes) return;
  MftVolume volume;
  auto runs = std::make_shared<std::vector<DataRun>>();
  RecordDataRuns(record, *runs, kErrInvalidParameter);
  volume.runs = std::move(runs);
  volume.sectorsPerCluster = ClusterSizeOfRecord(record);
  // The $MFT's own data attribute measures the cluster size as well as any file does.
  if (volume.sectorsPerCluster) clusterEstimate_ = volume.sectorsPerCluster;
  volumes_.emplace(sector, std::move(volume));
}

CProfessionalNtfsRecovery::VolumeData CProfessionalNtfsRecovery::FindVolumeOfRecord(uint32_t n, uint64_t s) {
  const uint64_t target = static_cast<uint64_t>(n) * geometry_.sectorsPerRecord;

  // The volume start of an MFT whose record 0 lies at `key`, or kNowhere.
  auto volumeStartOf = [&](uint64_t key, const MftVolume& volume, uint32_t spc) -> uint64_t {
    int64_t first = volume.runs->front().lcnDelta;
    uint64_t product;
    if (first < 0 || !CheckedMul<uint64_t>(static_cast<uint64_t>(first), spc, product) || product > key)
      return kNowhere;
    uint64_t start = key - product;
    return start < areaStart_ ? kNowhere : start;
  };

  // 1. A registered volume whose MFT runs put record n exactly at s.
  for (const auto& [key, volume] : volumes_) {
    if (!volume.runs || volume.runs->empty()) continue;
    const uint32_t spc = volume.sectorsPerCluster ? volume.sectorsPerCluster : clusterEstimate_;
    const uint64_t start = volumeStartOf(key, volume, spc);
    if (start == kNowhere) continue;
    VolumeData candidate{start, spc, volume.runs};
    if (LocateRecord(n, candidate) == s) return candidate;
  }
  // 2. A registered volume whose MFT, taken as contiguous from its record 0,
  // holds record n at s: records of an old MFT past the runs of the new one
  // (a quick format writes a short MFT over the start of the old one).
  for (const auto& [key, volume] : volumes_) {
    if (!volume.runs || volume.runs->empty()) continue;
    uint64_t at;
    if (!CheckedAdd(key, target, at) || at != s) continue;
    const uint32_t spc = volume.sectorsPerCluster ? volume.sectorsPerCluster : clusterEstimate_;
    const uint64_t start = volumeStartOf(key, volume, spc);
    if (start == kNowhere) continue;
    auto runs = std::make_shared<std::vector<DataRun>>(1, DataRun{0, volume.runs->front().lcnDelta, false});
    return VolumeData{start, spc, std::move(runs)};
  }
  // 3. No volume knows it: the MFT is taken as contiguous, ending at s, in a
  // volume that starts at the area's start.
  const int64_t mftOffset = static_cast<int64_t>(s) - static_cast<int64_t>(target) - static_cast<int64_t>(areaStart_);
  const int64_t lcn = mftOffset / static_cast<int64_t>(clusterEstimate_);
  auto runs = std::make_shared<std::vector<DataRun>>(1, DataRun{0, lcn, false});
  return VolumeData{areaStart_, clusterEstimate_, std::move(runs)};
}

uint64_t CProfessionalNtfsRecovery::LocateRecord(uint32_t m, const VolumeData& volume) const {
  if (!volume.mftRuns) return kNowhere;
  const uint64_t spc = volume.sectorsPerCluster;
  const uint64_t target = static_cast<uint64_t>(m) * geometry_.sectorsPerRecord;
  uint64_t acc = 0;
  int64_t lcn = 0;
  for (const DataRun& run : *volume.mftRuns) {
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) return kNowhere;
    int64_t startSectors;
    if (!CheckedMul<int64_t>(lcn, static_cast<int64_t>(spc), startSectors)) return kNowhere;
    uint64_t len;
    if (!CheckedMul<uint64_t>(run.clusterCount, spc, len)) return kNowhere;
    // A run without clusters stands for an MFT taken as contiguous from there.
    const bool open = run.clusterCount == 0;
    if (open || (target >= acc && target - acc < len)) {
      if (run.sparse) return kNowhere;
      const uint64_t inside = open ? target : target - acc;
      int64_t at;
      if (!CheckedAdd<int64_t>(static_cast<int64_t>(volume.volumeStart), startSectors, at) || at < 0)
        return kNowhere;
      uint64_t sector;
      if (!CheckedAdd<uint64_t>(static_cast<uint64_t>(at), inside, sector)) return kNowhere;
      return sector;
    }
    if (!CheckedAdd(acc, len, acc)) return kNowhere;
  }
  // Past all runs: the volume's first sector, which then fails the record test.
  return volume.volumeStart;
}

void CProfessionalNtfsRecovery::AddFolderEntry(uint32_t recordNumber, const VolumeData& volume) {
  if (!folderSet_.insert(recordNumber).second) return;
  folderList_.push_back(FolderEntry{recordNumber, volume});
}

const CProfessionalNtfsRecovery::FolderProbe& CProfessionalNtfsRecovery::ProbeFolder(uint64_t lba,
                                                                                    uint32_t expected) {
  auto it = folderMemo_.find(lba);
  if (it != folderMemo_.end() && it->second.ownNumber == expected) return it->second;
  if (folderMemo_.size() >= kMaxFolderMemo) folderMemo_.clear();
  FolderProbe probe;
  probe.ownNumber = expected;
  if (LoadRecord(lba, scratch_.data()) == kOk) {
    ByteReader r(scratch_.data(), geometry_.recordSize);
    const uint32_t inUse = MftRecordHeader::BytesInUse(r);
    const uint32_t first = MftRecordHeader::FirstAttribute(r);
    // Not a folder, or another record than the one asked for (the volume guess was wrong).
    bool usable = MftRecordHeader::IsDirectory(r) && MftRecordHeader::RecordNumber(r) == expected &&
                  first < geometry_.recordSize && inUse <= geometry_.recordSize && first < inUse;
    AttributeView a;
    uint32_t parent = 0;
    if (usable && FindAttribute(r, WalkRule::Ancestors(), kAttrFileName, a) && FileNameParent(a, parent)) {
      probe.continues = true;
      probe.parent = parent;
    }
  }
  return folderMemo_[lba] = probe;
}

uint32_t CProfessionalNtfsRecovery::CollectAncestors(uint32_t parent, const VolumeData& volume) {
  std::unordered_set<uint32_t> visited;
  uint32_t depth = 0;
  uint32_t p = parent;
  while (p != kRootFolderRecord && depth < kMaxFolderDepth) {
    visited.insert(p);
    AddFolderEntry(p, volume);
    ++depth;
    const FolderProbe& probe = ProbeFolder(LocateRecord(p, volume), p);
    if (!probe.continues || visited.count(probe.parent)) break;
    p = probe.parent;
  }
  return depth;
}

uint32_t CProfessionalNtfsRecovery::ContentCheck(ByteReader record, uint64_t lba, std::string_view name,
                                                 uint32_t clusterSize, uint64_t volumeStart) {
  if (!checker_) return 1;
  std::string_view ext = NameExtension(name);
  if (ext.empty()) return 1;
  std::vector<uint8_t> value;
  int32_t rc = ResidentDataInRecord(geometry_, record, value);
  if (rc == kOk) {
    if (value.empty()) return 0;
    return checker_(value.data(), value.size(), ext, device_, geometry_.bytesPerSector, lba) == 0 ? 0 : 1;
  }
  if (rc != kErrNoResidentData) return 1;
  std::vector<DataRun> runs;
  if (RecordDataRuns(record, runs, kErrNoAttribute) != kOk || runs.empty()) return 1;
  const DataRun& first = runs.front();
  uint64_t bytes, sector;
  if (first.sparse || first.lcnDelta <= 0 || clusterSize == kNoClusterSize ||
      !CheckedMul<uint64_t>(clusterSize, static_cast<uint64_t>(first.lcnDelta), bytes) ||
      !CheckedAdd(volumeStart, bytes / geometry_.bytesPerSector, sector) || sector == 0)
    return 1;
  if (sector < areaStart_ || sector >= device_.sectorCount) return 1;
  std::vector<uint8_t> data(geometry_.bytesPerSector);
  uint64_t got = 0;
  if (ReadSectors(1, device_, data.data(), sector, geometry_.bytesPerSector, got) != kOk || got == 0) return 1;
  return checker_(data.data(), data.size(), ext, device_, geometry_.bytesPerSector, sector) == 0 ? 0 : 1;
}

void CProfessionalNtfsRecovery::CommitItem(const FoundItem& item, RelationKey key, const char* folderName) {
  if (!log_) return;
  uint32_t id = 0;
  FoundItem* slot = log_->AppendItem(id);
  if (!slot) return;
  *slot = item;
  slot->itemId = id;
  log_->AddRelation(key, id, item.objectId, folderName);
}

void CProfessionalNtfsRecovery::AppendLostFolder(uint32_t number, uint64_t volumeStart) {
  FoundItem item;
  std::memset(&item, 0, sizeof(item));
  item.driveLetter = driveLetter_;
  item.sourceKind = kSourceNtfsRecordSearch;
  item.isFolder = 1;
  item.contentCheck = 1;
  item.objectId = number;
  item.clusterSize = kNoClusterSize;
  item.volumeStartSector = volumeStart;
  char name[32];
  std::snprintf(name, sizeof(name), "LostFolder%u", number);
  item.SetName(name);
  CommitItem(item, MakeRelationKey(0, kRootFolderRecord), item.name);
}

int32_t CProfessionalNtfsRecovery::HandleCandidateRecord(const uint8_t* bytes, size_t length, uint64_t sector,
                                                         CandidateMode mode, uint32_t missing) {
  if (!bytes || !opened_) return kErrInvalidParameter;
  const bool folderMode = mode == CandidateMode::kFolder;
  // The record is copied so that fixups never touch the caller's buffer and
  // every read below stays inside a zero-padded copy of one record.
  const size_t recordSize = geometry_.recordSize;
  std::memset(record_.data(), 0, recordSize);
  std::memcpy(record_.data(), bytes, std::min(length, recordSize));
  ByteReader r(record_.data(), recordSize);
  const bool isRecord = MftRecordHeader::IsRecord(r);
  const bool directory = isRecord && MftRecordHeader::IsDirectory(r);
  if (!folderMode && directory) return kOk;
  const uint64_t folderVolumeStart = currentFolder_ ? currentFolder_->volume.volumeStart : areaStart_;
  // In the folder pass a folder whose record is gone, reused or unreadable
  // still gets a finding: a lost folder that keeps its children reachable.
  const uint32_t lostNumber = missing ? missing : (isRecord ? MftRecordHeader::RecordNumber(r) : 0);
  auto lost = [&](int32_t result) {
    if (folderMode && lostNumber > kLastSystemRecord) AppendLostFolder(lostNumber, folderVolumeStart);
    return result;
  };
  if (!isRecord) return lost(kErrNotMftRecord);

  ApplyFixups(record_.data(), recordSize, geometry_);
  const uint32_t inUse = MftRecordHeader::BytesInUse(r);
  const uint32_t first = MftRecordHeader::FirstAttribute(r);
  if (inUse > recordSize || first > recordSize || first > inUse) return lost(kErrInvalidParameter);
  if (first == inUse) return lost(kOk);
  const uint32_t recordNumber = MftRecordHeader::RecordNumber(r);
  if (folderMode && (!directory || (missing && recordNumber != missing))) return lost(kOk);

  FoundItem item;
  std::memset(&item, 0, sizeof(item));
  bool haveItem = false;
  RelationKey key = 0;
  std::string firstName;
  AttributeWalk walk(r, WalkRule::Ancestors());
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrFileName) {
      FileNameValue fn;
      if (!DecodeFileName(a, fn)) continue;
      if (recordNumber == 0 && platform::AsciiLower(fn.name) == "$mft") {
        if (!folderMode) RegisterVolume(r, sector);
        continue;
      }
      if (recordNumber <= kLastSystemRecord) continue;
      if (haveItem) {
        if (fn.nameSpace == kNamespaceWin32) item.SetName(fn.name);
        continue;
      }
      haveItem = true;
      firstName = fn.name;
      item.driveLetter = driveLetter_;
      item.sourceKind = kSourceNtfsRecordSearch;
      item.isFolder = folderMode ? 1 : 0;
      item.contentCheck = 1;
      item.objectId = recordNumber;
      item.creationTime = fn.creationTime;
      item.accessTime = fn.accessTime;
      item.modificationTime = fn.modificationTime;
      item.size = folderMode ? 0 : fn.realSize;
      item.entrySector = sector;
      item.SetName(fn.name);

      VolumeData volume;
      uint32_t ownClusterSize = 0;
      if (folderMode && currentFolder_) {
        volume = currentFolder_->volume;
      } else {
        // A non-resident file measures its own cluster size; that figure
        // also becomes the estimate for the records that follow.
        ownClusterSize = ClusterSizeOfRecord(r);
        if (ownClusterSize) clusterEstimate_ = ownClusterSize;
        volume = FindVolumeOfRecord(recordNumber, sector);
      }
      // A record of an old MFT under a new one keeps the clusters of the
      // format that wrote it, which its own figure tells when the two differ.
      item.clusterSize = (ownClusterSize ? ownClusterSize : volume.sectorsPerCluster) * geometry_.bytesPerSector;
      item.volumeStartSector = volume.volumeStart;
      const uint32_t depth = CollectAncestors(fn.parentRecord, volume);
      key = MakeRelationKey(depth, fn.parentRecord);
      if (!folderMode) item.contentCheck = ContentCheck(r, sector, item.Name(), item.clusterSize, item.volumeStartSector);
    } else if (a.type == kAttrData && haveItem && !folderMode && a.NameLength() == 0) {
      if (!a.NonResident())
        item.size = a.ValueLength();
      else if (a.Length16() > 0x30)
        item.size = a.DataSize();
    }
  }
  if (!haveItem) return lost(kOk);
  CommitItem(item, key, folderMode ? firstName.c_str() : nullptr);
  return kOk;
}

int32_t CProfessionalNtfsRecovery::FinishFolders() {
  int32_t firstError = kOk;
  // Entries appended while the pass runs are visited too; each record number
  // is listed once, so the pass ends.
  for (; foldersDone_ < folderList_.size(); ++foldersDone_) {
    const FolderEntry entry = folderList_[foldersDone_];
    const uint64_t lba = LocateRecord(entry.recordNumber, entry.volume);
    int32_t rc = lba == kNowhere ? kErrInvalidParameter : ReadRecordInArea(lba, scratch_.data());
    // A device error is reported at the end; a location outside the area is
    // only a wrong guess. Either way the folder becomes a lost folder.
    if (rc != kOk && rc != kErrInvalidParameter && firstError == kOk) firstError = rc;
    if (rc != kOk) std::memset(scratch_.data(), 0, kMftReadBytes);
    // The record is copied at once by the handler, which reuses scratch_ for parents.
    currentFolder_ = &entry;
    HandleCandidateRecord(scratch_.data(), scratch_.size(), lba == kNowhere ? 0 : lba, CandidateMode::kFolder,
                          entry.recordNumber);
    currentFolder_ = nullptr;
  }
  if (log_) {
    int32_t rc = log_->Flush();
    if (firstError == kOk) firstError = rc;
  }
  return firstError;
}

}  // namespace nuvarin
