#include "ntfs/fast_ntfs_recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ntfs/attribute.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "signature/catalogue.h"
#include "storage/cluster_bitmap.h"
#include "storage/recovered_output.h"
#include "storage/scan_log_index.h"

namespace nuvarin {

namespace {

constexpr uint64_t kMaxBitmapBytes = 1ull << 31;

}  // namespace

CFastNtfsRecovery::CFastNtfsRecovery() : checker_(&MatchesExtension) {}

CFastNtfsRecovery::~CFastNtfsRecovery() {
  if (log_) log_->Close();
}

int32_t CFastNtfsRecovery::OpenArea(uint64_t volumeStart) {
  uint64_t offset;
  if (!CheckedMul<uint64_t>(volumeStart, device_.bytesPerSector, offset)) return kErrInvalidParameter;
  std::vector<uint8_t> boot(kNtfsBootAreaBytes);
  size_t done = 0;
  while (done < boot.size()) {
    size_t got = 0;
    int32_t rc = platform::ReadAt(device_.handle, boot.data() + done, boot.size() - done, offset + done, got);
    if (rc != kOk) return rc;
    if (got == 0) return kErrReadFault;
    done += got;
  }
  if (!DecodeNtfsGeometry(boot.data(), boot.size(), volumeStart, geometry_)) return kErrInvalidParameter;
  try {
    chunk_.assign(static_cast<size_t>(geometry_.recordSize) * kChunkRecords, 0);
    recordBuffer_.assign(kMftReadBytes, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  opened_ = true;
  mftRuns_.clear();
  mftError_ = LoadMftRuns(device_, geometry_, mftRuns_);
  if (mftError_ == kOk && mftRuns_.empty()) mftError_ = kErrNoAttribute;
  return kOk;
}

int32_t CFastNtfsRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  opened_ = false;
  driveLetter_ = driveLetter;
  int32_t rc = OpenImageFile(imagePath, device_);
  if (rc != kOk) return rc;
  sectorCount_ = device_.sectorCount;
  return OpenArea(0);
}

int32_t CFastNtfsRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                    uint16_t driveLetter) {
  opened_ = false;
  driveLetter_ = driveLetter;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  if (rc != kOk) return rc;
  sectorCount_ = sectorCount;
  return OpenArea(startSector);
}

int32_t CFastNtfsRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                               int32_t weight) {
  progress_ = progress;
  fileCallback_ = file;
  context_ = context;
  weight_ = weight;
  return kOk;
}

int32_t CFastNtfsRecovery::OpenLog(const char* logName) {
  folderList_.clear();
  folderSet_.clear();
  folderInfo_.clear();
  if (log_) log_->Close();
  log_ = std::make_unique<ScanLogStore>();
  log_->SetSearchCallback(searchCallback_, searchContext_);
  std::filesystem::path folder = ScanLogIndex::Instance().CurrentLogFolder();
  if (logName) return log_->Open(folder, logName);
  int32_t rc = log_->Open(folder, MakeLogName("Fast_", geometry_.volumeStart));
  // Without a log the findings would go nowhere while the scan reports success.
  if (!log_->IsOpen()) return rc != kOk ? rc : kErrWriteFault;
  if (!opened_) return kErrInvalidHandle;
  if (mftRuns_.empty()) return mftError_;
  rc = Scan();
  int32_t flushRc = log_->Flush();
  if (rc == kOk && flushRc != kOk) rc = flushRc;
  if (rc == kOk && log_->FirstWriteError() != kOk) rc = log_->FirstWriteError();
  return rc;
}

int32_t CFastNtfsRecovery::Scan() {
  const uint32_t bps = geometry_.bytesPerSector;
  const uint32_t spc = geometry_.sectorsPerCluster;
  const uint64_t start = platform::TickMs();
  uint64_t lastEta = start;
  int32_t eta = -1;
  uint64_t done = 0;
  uint64_t total = 0;
  for (const DataRun& run : mftRuns_) {
    uint64_t sectors;
    if (CheckedMul<uint64_t>(run.clusterCount, spc, sectors)) CheckedAdd(total, sectors, total);
  }

  int64_t lcn = 0;
  const uint64_t chunkSectors = chunk_.size() / bps;
  for (const DataRun& run : mftRuns_) {
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) break;
    uint64_t runSectors, runStart;
    if (run.sparse || lcn < 0 || !CheckedMul<uint64_t>(run.clusterCount, spc, runSectors) ||
        !CheckedMul<uint64_t>(static_cast<uint64_t>(lcn), spc, runStart) ||
        !CheckedAdd(runStart, geometry_.volumeStart, runStart))
      continue;
    uint64_t offset = 0;
    while (offset < runSectors) {
      uint64_t sectors = std::min(runSectors - offset, chunkSectors);
      uint64_t got = 0;
      int32_t rc = ReadSectors(sectors, device_, chunk_.data(), runStart + offset, bps, got);
      uint64_t records = got / geometry_.sectorsPerRecord;
      for (uint64_t i = 0; i < records; ++i) {
        ProcessRecord(chunk_.data() + i * geometry_.recordSize, geometry_.recordSize,
                      runStart + offset + i * geometry_.sectorsPerRecord, Mode::kSweep, 0);
      }
      if (rc != kOk) return rc;
      offset += sectors;
      done += sectors;
      uint64_t now = platform::TickMs();
      if (now - lastEta >= 5000 && weight_ == 100) {
        uint64_t elapsed = (now - start) / 1000;
        uint64_t rate = elapsed ? static_cast<uint64_t>(bps) * done / elapsed : 0;
        if (rate == 0) rate = 1;
        eta = static_cast<int32_t>(std::min<uint64_t>((total - std::min(total, done)) * bps / rate, INT32_MAX));
        lastEta = now;
      }
      if (progress_) {
        int32_t percent = total ? static_cast<int32_t>(std::min<uint64_t>(done * 100 / total, 100)) : 100;
        int32_t answer = progress_(context_, percent, weight_, eta, 0, 0, 0, 0);
        if (answer != 0) return answer;
      }
    }
  }

  // Folder pass: the list grows while it is walked; every folder appears once.
  for (size_t i = 0; i < folderList_.size(); ++i) {
    uint32_t f = folderList_[i];
    uint64_t lba = MapRecordToSector(geometry_, mftRuns_, f);
    if (ReadMftRecord(device_, geometry_, lba, recordBuffer_.data()) != kOk)
      std::fill(recordBuffer_.begin(), recordBuffer_.end(), 0);
    ProcessRecord(recordBuffer_.data(), geometry_.recordSize, lba, Mode::kFolder, f);
  }
  if (progress_) return progress_(context_, 100, weight_, eta, 0, 0, 0, 0);
  return kOk;
}

void CFastNtfsRecovery::CommitItem(const FoundItem& item, RelationKey key, const char* folderName) {
  uint32_t id = 0;
  FoundItem* slot = log_->AppendItem(id);
  if (!slot) return;
  *slot = item;
  slot->itemId = id;
  log_->AddRelation(key, id, item.objectId, folderName);
}

void CFastNtfsRecovery::AppendLostFolder(uint32_t number) {
  FoundItem item{};
  item.driveLetter = driveLetter_;
  item.sourceKind = kSourceFastNtfs;
  item.isFolder = 1;
  item.contentCheck = 1;
  item.objectId = number;
  item.clusterSize = kNoClusterSize;
  char name[32];
  std::snprintf(name, sizeof(name), "LostFolder%u", number);
  item.SetName(name);
  CommitItem(item, MakeRelationKey(0, kRootFolderRecord), item.name);
}

void CFastNtfsRecovery::ProcessRecord(uint8_t* data, size_t size, uint64_t lba, Mode mode, uint32_t missing) {
  ByteReader r(data, size);
  const uint16_t flags = MftRecordHeader::Flags(r);
  bool lost = false;
  if (mode == Mode::kSweep) {
    if (flags != 0) return;
  } else {
    lost = (flags & kRecordDirectory) == 0;
  }
  if (!MftRecordHeader::IsRecord(r)) {
    if (mode == Mode::kFolder && lost) AppendLostFolder(missing);
    return;
  }
  ApplyFixups(data, size, geometry_);
  const uint32_t number = MftRecordHeader::RecordNumber(r);

  // An extension record belongs to its base record, which is processed itself.
  if (mode == Mode::kSweep && MftRecordHeader::BaseRecord(r) != 0) return;

  FoundItem item{};
  bool have = false;
  uint32_t parent = 0, depth = 0;
  std::string firstName;
  auto makeFinding = [&](const FileNameValue& fn) {
    have = true;
    item.driveLetter = driveLetter_;
    item.sourceKind = kSourceFastNtfs;
    item.isFolder = mode == Mode::kFolder ? 1 : 0;
    item.contentCheck = 1;
    item.objectId = number;
    item.clusterSize = geometry_.ClusterBytes();
    item.creationTime = fn.creationTime;
    item.accessTime = fn.accessTime;
    item.modificationTime = fn.modificationTime;
    item.size = fn.realSize;
    item.entrySector = lba;
    item.volumeStartSector = geometry_.volumeStart;
    item.SetName(fn.name);
    firstName.assign(item.Name());
    parent = fn.parentRecord;
    depth = CollectAncestors(parent);
    if (mode == Mode::kSweep) item.contentCheck = ContentCheck(r, lba, item.Name());
  };
  bool haveList = false, haveDataSize = false;
  AttributeView list;
  uint64_t dataSize = 0;
  AttributeWalk walk(r, WalkRule::DeletedScan());
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrFileName) {
      FileNameValue fn;
      if (!DecodeFileName(a, fn)) continue;
      if (mode == Mode::kFolder && lost) {
        AppendLostFolder(number);
        return;
      }
      if (number <= kLastSystemRecord) continue;
      if (!have)
        makeFinding(fn);
      else if (fn.nameSpace == kNamespaceWin32)
        item.SetName(fn.name);
    } else if (a.type == kAttrData && a.NameLength() == 0) {
      if (!a.NonResident()) {
        dataSize = a.ValueLength();
        haveDataSize = true;
      } else if (a.Length16() > 0x30) {
        dataSize = a.DataSize();
        haveDataSize = true;
      }
      if (have && haveDataSize) item.size = dataSize;
    } else if (a.type == kAttrAttributeList && !haveList) {
      list = a;
      haveList = true;
    }
  }
  // A file whose attributes outgrew its record may keep its name in an
  // extension record: the attribute list says which.
  if (!have && haveList && number > kLastSystemRecord) {
    std::vector<AttributeListEntry> entries;
    if (ReadAttributeListEntries(Volume(), list, entries) == kOk) {
      for (const AttributeListEntry& e : entries) {
        if (e.type != kAttrFileName || e.recordNumber == number) continue;
        std::vector<uint8_t> extension;
        if (LoadMftRecord(Volume(), MapRecordToSector(geometry_, mftRuns_, e.recordNumber), extension) != kOk) break;
        AttributeView fa;
        FileNameValue fn;
        if (FindAttribute(ByteReader(extension.data(), geometry_.recordSize), WalkRule::Ancestors(), kAttrFileName,
                          fa) &&
            DecodeFileName(fa, fn)) {
          if (mode == Mode::kFolder && lost) {
            AppendLostFolder(number);
            return;
          }
          makeFinding(fn);
          if (haveDataSize) item.size = dataSize;
        }
        break;
      }
    }
  }
  if (!have) {
    // A reused folder record without a name still has to hold its children.
    if (mode == Mode::kFolder && lost) AppendLostFolder(missing);
    return;
  }
  if (mode == Mode::kFolder) {
    item.size = 0;
    CommitItem(item, MakeRelationKey(depth, parent), firstName.c_str());
  } else {
    CommitItem(item, MakeRelationKey(depth, parent), nullptr);
  }
}

const CFastNtfsRecovery::FolderInfo& CFastNtfsRecovery::LookupFolder(uint32_t record) {
  auto it = folderInfo_.find(record);
  if (it != folderInfo_.end()) return it->second;
  FolderInfo info;
  uint64_t lba = MapRecordToSector(geometry_, mftRuns_, record);
  uint8_t* buf = recordBuffer_.data();
  if (ReadMftRecord(device_, geometry_, lba, buf) == kOk) {
    ByteReader r(buf, geometry_.recordSize);
    if (MftRecordHeader::IsRecord(r)) {
      ApplyFixups(buf, geometry_.recordSize, geometry_);
      AttributeView a;
      if (MftRecordHeader::IsDirectory(r) && FindAttribute(r, WalkRule::Ancestors(), kAttrFileName, a))
        info.continues = FileNameParent(a, info.parent);
    }
  }
  return folderInfo_.emplace(record, info).first->second;
}

uint32_t CFastNtfsRecovery::CollectAncestors(uint32_t p) {
  std::vector<uint32_t> visited;
  uint32_t depth = 0;
  while (p != kRootFolderRecord && depth < kMaxFolderDepth) {
    visited.push_back(p);
    if (folderSet_.insert(p).second) folderList_.push_back(p);
    ++depth;
    const FolderInfo& info = LookupFolder(p);
    if (!info.continues) break;
    uint32_t q = info.parent;
    if (std::find(visited.begin(), visited.end(), q) != visited.end()) break;
    p = q;
  }
  return depth;
}

uint32_t CFastNtfsRecovery::ContentCheck(ByteReader record, uint64_t lba, std::string_view name) {
  if (name.find('.') == std::string_view::npos) return 1;
  std::string_view ext = NameExtension(name);
  const uint32_t bps = geometry_.bytesPerSector;
  std::vector<uint8_t> value;
  int32_t rc = ResidentDataInRecord(geometry_, record, value);
  if (rc == kOk) {
    if (value.empty()) return 0;
    return checker_(value.data(), value.size(), ext, device_, bps, lba) != 0 ? 1 : 0;
  }
  if (rc != kErrNoResidentData) return 1;
  std::vector<DataRun> runs;
  if (FindAttributeRunsInRecord(Volume(), record, kAttrData, runs) != kOk || runs.empty()) return 1;
  const DataRun& first = runs.front();
  uint64_t bytes;
  if (first.sparse || first.lcnDelta <= 0 ||
      !CheckedMul<uint64_t>(geometry_.ClusterBytes(), static_cast<uint64_t>(first.lcnDelta), bytes))
    return 1;
  uint64_t sector = geometry_.volumeStart + bytes / bps;
  std::vector<uint8_t> buf(bps);
  uint64_t got = 0;
  if (ReadSectors(1, device_, buf.data(), sector, bps, got) != kOk || got == 0) return 1;
  return checker_(buf.data(), buf.size(), ext, device_, bps, sector) != 0 ? 1 : 0;
}

int32_t CFastNtfsRecovery::ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) {
  if (!folder && depth != 0) return kErrInvalidParameter;
  if (!log_) return kOk;
  log_->Flush();
  uint32_t id = folder && folder->objectId != 0 ? folder->objectId : kRootFolderRecord;
  return log_->ReadFolder(MakeRelationKey(depth, id), out);
}

int32_t CFastNtfsRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kErrInvalidParameter;
  if (!log_) return kOk;
  log_->Flush();
  uint32_t id = folder && folder->objectId != 0 ? folder->objectId : kRootFolderRecord;
  return log_->CountFolderFiles(MakeRelationKey(depth, id), count);
}

uint64_t CFastNtfsRecovery::GetItemCount() { return log_ ? log_->AppendedCount() : 0; }

int32_t CFastNtfsRecovery::GetItemPath(const FoundItem* item, std::string& path) {
  path.clear();
  if (!item) return kErrInvalidParameter;
  if (!log_) return kOk;
  return log_->ItemPath(*item, path);
}

NtfsDataLookup CFastNtfsRecovery::DataLookup() const {
  NtfsVolume volume = Volume();
  NtfsDataLookup lookup;
  lookup.residentData = [volume](uint64_t lba, std::vector<uint8_t>& value) {
    return ReadResidentData(volume, lba, value);
  };
  lookup.dataRuns = [volume](uint64_t lba, std::vector<DataRun>& runs) {
    return FindAttributeRuns(volume, lba, kAttrData, runs);
  };
  return lookup;
}

int32_t CFastNtfsRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                       uint32_t baseDepth) {
  if (!item) return kErrInvalidParameter;
  if (!opened_) return kErrInvalidHandle;
  return RecoverNtfsItem(*this, *item, destination, baseDepth, device_, geometry_.bytesPerSector, DataLookup(),
                         fileCallback_, context_);
}

int32_t CFastNtfsRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
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

int32_t CFastNtfsRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  searchCallback_ = callback;
  searchContext_ = context;
  if (log_) log_->SetSearchCallback(callback, context);
  return kOk;
}

int32_t CFastNtfsRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  if (!log_) return 0;
  return log_->SearchItems(pattern, out);
}

int32_t CFastNtfsRecovery::LoadAllocationBitmap() {
  if (!opened_) return kErrInvalidHandle;
  const NtfsVolume volume = Volume();
  const uint64_t lba = MapRecordToSector(geometry_, mftRuns_, 6);
  std::vector<DataRun> runs;
  int32_t rc = FindAttributeRuns(volume, lba, kAttrData, runs);
  if (rc != kOk) return rc;
  uint64_t dataSize = 0;
  rc = ReadDataSize(volume, lba, dataSize);
  if (rc != kOk) return rc;
  const uint32_t bps = geometry_.bytesPerSector;
  const uint32_t spc = geometry_.sectorsPerCluster;
  uint64_t capacity = 0;
  for (const DataRun& run : runs) {
    uint64_t bytes;
    if (!CheckedMul<uint64_t>(run.clusterCount, geometry_.ClusterBytes(), bytes) ||
        !CheckedAdd(capacity, bytes, capacity) || capacity > kMaxBitmapBytes)
      return kErrNotEnoughMemory;
  }
  try {
    bitmap_.assign(static_cast<size_t>(capacity), 0);
  } catch (const std::bad_alloc&) {
    bitmap_.clear();
    bitmapBytes_ = 0;
    return kErrNotEnoughMemory;
  }
  bitmapBytes_ = std::min(dataSize, capacity);
  uint64_t at = 0;  // bytes filled
  int64_t lcn = 0;
  for (const DataRun& run : runs) {
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) break;
    uint64_t sectors = run.clusterCount * spc;
    if (run.sparse || lcn < 0) {
      at += sectors * bps;
      continue;
    }
    uint64_t got = 0;
    ReadSectors(sectors, device_, bitmap_.data() + at, geometry_.volumeStart + static_cast<uint64_t>(lcn) * spc,
                bps, got);
    at += got * bps;
  }
  return kOk;
}

int32_t CFastNtfsRecovery::NextFreeExtent(uint64_t& position, uint64_t& length) {
  length = 0;
  if (position > sectorCount_) {
    position = sectorCount_;
    return 1;
  }
  const uint64_t spc = geometry_.sectorsPerCluster ? geometry_.sectorsPerCluster : 1;
  const uint64_t cluster = position / spc;
  const uint64_t bits = bitmapBytes_ * 8;
  if (cluster / 8 < bitmapBytes_) {
    const uint8_t* map = bitmap_.data();
    uint64_t freeAt = FindBit(map, cluster, bits, false);
    if (freeAt < bits) {
      position += (freeAt - cluster) * spc;
      uint64_t usedAt = FindBit(map, freeAt, bits, true);
      length = (usedAt - freeAt) * spc;
    }
  }
  if (position + length > sectorCount_) length = position >= sectorCount_ ? 0 : sectorCount_ - position;
  return 1;
}

}  // namespace nuvarin
