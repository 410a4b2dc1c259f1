#include "fat/fast_fat_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "fat/dir_entry.h"
#include "fat/fat_extraction.h"
#include "fat/volume_io.h"
#include "platform/error_codes.h"
#include "platform/paths.h"
#include "signature/catalogue.h"
#include "storage/cluster_bitmap.h"
#include "storage/scan_log_index.h"

namespace nuvarin {
namespace {

constexpr size_t kBootAreaBytes = 4096;

bool StartsWithDotPair(const uint8_t* buffer, size_t length) {
  return length >= 64 && buffer[0] == '.' && buffer[1] == ' ' && buffer[32] == '.' && buffer[33] == '.';
}

}  // namespace

CFastFatRecovery::CFastFatRecovery() = default;

CFastFatRecovery::~CFastFatRecovery() {
  if (store_) store_->Close();
  fat_.Release();
  device_.Close();
}

int32_t CFastFatRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  if (device_.IsOpen()) return kOk;
  int32_t rc = OpenImageFile(imagePath, device_);
  if (rc != kOk) return rc;
  start_ = 0;
  sectorCount_ = device_.sectorCount;
  driveLetter_ = driveLetter;
  return OpenVolume();
}

int32_t CFastFatRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                   uint16_t driveLetter) {
  if (device_.IsOpen()) return kOk;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  if (rc != kOk) return rc;
  start_ = startSector;
  sectorCount_ = sectorCount;
  driveLetter_ = driveLetter;
  return OpenVolume();
}

int32_t CFastFatRecovery::OpenVolume() {
  const uint32_t devBps = device_.bytesPerSector;
  bytesPerSector_ = devBps;
  std::vector<uint8_t> boot(kBootAreaBytes, 0);
  uint64_t got = 0;
  int32_t rc = ReadVolumeSectors(device_, devBps, start_, kBootAreaBytes / devBps, boot.data(), got);
  if (rc != kOk) return rc;
  ByteReader r(boot.data(), boot.size());
  uint32_t bps = r.le16(11);
  uint64_t areaBytes = 0;
  uint64_t startBytes = 0;
  if (bps == 0 || !CheckedMul<uint64_t>(sectorCount_, devBps, areaBytes) ||
      !CheckedMul<uint64_t>(start_, devBps, startBytes) || startBytes % bps != 0) {
    geometry_ = FatGeometry();
    return kOk;  // not a usable FAT layout: the scan finds nothing
  }
  ParseFatGeometry(r, startBytes / bps, areaBytes / bps, geometry_);
  if (geometry_.valid) {
    bytesPerSector_ = geometry_.bytesPerSector;
    fat_.Attach(&device_, geometry_);
  }
  return kOk;
}

int32_t CFastFatRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                              int32_t weight) {
  progress_ = progress;
  fileCallback_ = file;
  context_ = context;
  weight_ = weight;
  return kOk;
}

int32_t CFastFatRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  searchCallback_ = callback;
  searchContext_ = context;
  if (store_) store_->SetSearchCallback(callback, context);
  return kOk;
}

int32_t CFastFatRecovery::Report(int32_t percent, int32_t eta) {
  if (!progress_) return 0;
  return progress_(context_, percent, weight_, eta, 0, 0, 0, 0);
}

int32_t CFastFatRecovery::OpenLog(const char* logName) {
  if (logName != nullptr) {
    if (store_) store_->Close();
    store_ = std::make_unique<ScanLogStore>();
    store_->SetSearchCallback(searchCallback_, searchContext_);
    return store_->Open(ScanLogIndex::Instance().CurrentLogFolder(), logName);
  }
  return RunScan();
}

bool CFastFatRecovery::IsRootId(uint32_t cluster) const {
  return cluster == geometry_.rootCluster || cluster == 0;
}

int32_t CFastFatRecovery::RunScan() {
  folders_.clear();
  needed_.clear();
  neededSet_.clear();
  levelCache_.clear();
  queue_.clear();
  scanned_.clear();
  if (store_) store_->Close();
  store_ = std::make_unique<ScanLogStore>();
  store_->SetSearchCallback(searchCallback_, searchContext_);
  std::filesystem::path folder = ScanLogIndex::Instance().CurrentLogFolder();
  platform::CreateFolders(folder);
  int32_t result = store_->Open(folder, MakeLogName("Fast_", start_));
  if (result != kOk) return result;

  using Clock = std::chrono::steady_clock;
  auto lastReport = Clock::now();
  int32_t step = 0;
  result = Report(1, -1);
  if (geometry_.valid) queue_.push_back(geometry_.rootCluster);
  while (result == 0 && !queue_.empty()) {
    uint32_t cluster = queue_.front();
    queue_.pop_front();
    if (!scanned_.insert(cluster).second) continue;
    ScanDirectory(cluster);  // an unreadable directory ends only itself
    auto now = Clock::now();
    if (now - lastReport >= std::chrono::milliseconds(5000)) {
      lastReport = now;
      ++step;
      // Without a measure of the tree's size the percentage moves with time.
      if (weight_ == 100) {
        result = Report(std::min(1 + step, 79), std::max(100 - step, 11));
      } else if (weight_ == 9) {
        result = Report(std::min(20 + step, 79), -1);
      }
    }
  }
  queue_.clear();
  if (result == 0) result = Report(80, 10);
  if (result == 0) result = WriteFolderRecords();
  if (result == 0) result = store_->Flush();
  if (result == 0) result = store_->FirstWriteError();
  if (result == 0) result = Report(100, 0);
  return result;
}

int32_t CFastFatRecovery::ScanDirectory(uint32_t cluster) {
  const FatGeometry& g = geometry_;
  const bool fixedRoot = !g.isFat32 && cluster == 0;
  if (!fixedRoot && !g.IsDataCluster(cluster)) return kErrInvalidParameter;
  const uint64_t bufferBytes = fixedRoot ? static_cast<uint64_t>(g.rootDirSectors) * g.bytesPerSector : g.clusterBytes;
  if (bufferBytes == 0) return kErrInvalidParameter;
  std::vector<uint8_t> buffer(bufferBytes);
  uint64_t sector = g.ClusterToSector(cluster);
  uint32_t parentId = cluster;
  bool checkDots = false;
  bool inheritedDeleted = false;
  if (auto it = folders_.find(cluster); it != folders_.end()) {
    checkDots = true;
    inheritedDeleted = it->second.deleted;
  }
  LongName longName;
  const uint64_t maxClusters = std::max<uint64_t>(1, kMaxDirectoryBytes / bufferBytes);
  const size_t entries = bufferBytes / kFatEntrySize;
  for (uint64_t n = 0; n < maxClusters; ++n) {
    uint64_t got = 0;
    int32_t rc = ReadVolumeSectors(device_, g.bytesPerSector, sector, bufferBytes / g.bytesPerSector, buffer.data(), got);
    if (rc != kOk) return rc;
    // A subdirectory whose first cluster no longer starts with "." and ".."
    // was reused by other data.
    if (checkDots && n == 0 && cluster != g.rootCluster && !StartsWithDotPair(buffer.data(), buffer.size())) return kOk;
    // A cleared chain that runs into the first cluster of another folder has
    // left this directory: that folder is scanned on its own.
    if (n > 0 && StartsWithDotPair(buffer.data(), buffer.size())) return kOk;
    bool ended = false;
    for (size_t i = 0; i < entries && !ended; ++i) {
      const size_t off = i * kFatEntrySize;
      const uint8_t* raw = buffer.data() + off;
      const uint64_t entrySector = sector + off / g.bytesPerSector;
      ByteReader e(raw, kFatEntrySize);
      if (raw[0] == 0) {
        ended = true;
        break;
      }
      if (!IsPlausibleEntry(raw, buffer.size() - off)) {
        longName.Reset();
        continue;
      }
      const uint8_t attr = raw[11];
      const bool deleted = raw[0] == kFatDeletedMark;
      if (attr == kFatAttrLongName) {
        if (!longName.Add(e)) ended = true;  // too many parts: treat as the end
        continue;
      }
      if (attr & kFatAttrDirectory) {
        std::string name = longName.Empty() ? ShortName(e, true) : longName.Text();
        longName.Reset();
        if (name == ".") {
          parentId = EntryFirstCluster(e, g.isFat32);
          continue;
        }
        if (name == "..") continue;
        uint32_t first = EntryFirstCluster(e, g.isFat32);
        if (g.isFat32 && deleted && e.le16(20) == 0) first = FindFolderHighWord(e.le16(26));
        if (first != 0 && first != parentId && first != g.rootCluster && g.IsDataCluster(first)) {
          FolderInfo& info = folders_[first];
          info.parentId = parentId;
          info.deleted = deleted || inheritedDeleted;
          info.times = EntryTimes(e);
          info.entrySector = entrySector;
          info.name = std::move(name);
          queue_.push_back(first);
        }
      } else if (attr & kFatAttrArchive) {
        std::string name = longName.Empty() ? ShortName(e, false) : longName.Text();
        longName.Reset();
        if (deleted || inheritedDeleted) WriteFileRecord(e, name, parentId, entrySector);
      } else {
        longName.Reset();
      }
    }
    if (ended || fixedRoot) break;
    uint32_t next = fat_.NextCluster(cluster);
    if (next == 0 || next == cluster) break;
    cluster = next;
    sector = g.ClusterToSector(next);
  }
  return kOk;
}

void CFastFatRecovery::WriteFileRecord(const ByteReader& e, const std::string& name, uint32_t parentId,
                                       uint64_t entrySector) {
  const FatGeometry& g = geometry_;
  uint32_t first = EntryFirstCluster(e, g.isFat32);
  if (g.isFat32 && e.u8(0) == kFatDeletedMark && e.le16(20) == 0) first = FindFileHighWord(name, e.le16(26));
  uint32_t check = ContentCheck(name, first);
  uint32_t level = FolderLevel(parentId);
  EntryTimeValues times = EntryTimes(e);

  uint32_t itemId = 0;
  FoundItem* record = store_->AppendItem(itemId);
  if (record == nullptr) return;
  record->driveLetter = driveLetter_;
  record->sourceKind = kSourceFastFat;
  record->isFolder = 0;
  record->isDeleted = 0;
  record->contentCheck = check;
  record->itemId = itemId;
  record->objectId = first;
  record->clusterSize = g.clusterBytes;
  record->creationTime = times.creation;
  record->accessTime = times.access;
  record->modificationTime = times.modification;
  record->size = e.le32(28);
  record->dataStartSector = g.firstDataSector;
  record->entrySector = entrySector;
  record->volumeStartSector = g.volumeStart;
  record->SetName(name);
  store_->AddRelation(MakeRelationKey(level, parentId), itemId, first, nullptr);
  MarkNeededFolders(parentId);
}

void CFastFatRecovery::MarkNeededFolders(uint32_t parentId) {
  uint32_t id = parentId;
  // Each step climbs to a parent; a loop of parents ends after every folder was seen once.
  for (size_t guard = 0; guard <= folders_.size(); ++guard) {
    if (neededSet_.insert(id).second) needed_.push_back(id);
    auto it = folders_.find(id);
    if (it == folders_.end()) break;
    uint32_t parent = it->second.parentId;
    if (parent == id) break;
    id = parent;
    if (IsRootId(id)) break;
  }
}

int32_t CFastFatRecovery::WriteFolderRecords() {
  const FatGeometry& g = geometry_;
  for (uint32_t id : needed_) {
    auto it = folders_.find(id);
    if (it == folders_.end()) continue;
    const FolderInfo& info = it->second;
    uint32_t level = FolderLevel(info.parentId);
    uint32_t itemId = 0;
    FoundItem* record = store_->AppendItem(itemId);
    if (record == nullptr) return kErrNotEnoughMemory;
    record->driveLetter = driveLetter_;
    record->sourceKind = kSourceFastFat;
    record->isFolder = 1;
    record->isDeleted = info.deleted ? 1 : 0;
    record->contentCheck = 1;
    record->itemId = itemId;
    record->objectId = id;
    record->clusterSize = g.clusterBytes;
    record->creationTime = info.times.creation;
    record->accessTime = info.times.access;
    record->modificationTime = info.times.modification;
    record->size = 0;
    record->dataStartSector = g.firstDataSector;
    record->entrySector = info.entrySector;
    record->volumeStartSector = g.volumeStart;
    record->SetName(info.name);
    std::string name(record->Name());
    store_->AddRelation(MakeRelationKey(level, info.parentId), itemId, id, name.c_str());
  }
  return kOk;
}

bool CFastFatRecovery::ReadOneSector(uint64_t sector, std::vector<uint8_t>& out) {
  out.assign(geometry_.bytesPerSector, 0);
  uint64_t got = 0;
  return ReadVolumeSectors(device_, geometry_.bytesPerSector, sector, 1, out.data(), got) == kOk && got == 1;
}

uint32_t CFastFatRecovery::FolderLevel(uint32_t cluster) {
  if (auto it = levelCache_.find(cluster); it != levelCache_.end()) return it->second;
  const FatGeometry& g = geometry_;
  uint32_t level = 0;
  std::unordered_set<uint32_t> visited;
  std::vector<uint8_t> sector;
  uint32_t c = cluster;
  while (level < kMaxFolderLevel) {
    if (c == g.rootCluster || !g.IsDataCluster(c)) break;
    if (!ReadOneSector(g.ClusterToSector(c), sector)) break;
    const uint8_t attr = sector[11];
    if ((attr & kFatAttrVolumeLabel) && attr != kFatAttrLongName) break;
    if (!(sector[0] == '.' && sector[32] == '.' && sector[33] == '.')) break;
    ++level;
    uint32_t parent = EntryFirstCluster(ByteReader(sector.data() + 32, kFatEntrySize), g.isFat32);
    if (parent == 0 || !visited.insert(parent).second) break;
    c = parent;
  }
  levelCache_[cluster] = level;
  return level;
}

uint32_t CFastFatRecovery::FindFolderHighWord(uint16_t low) {
  const FatGeometry& g = geometry_;
  std::vector<uint8_t> sector;
  for (uint32_t high = 0; high <= kMaxHighWord; ++high) {
    uint32_t cluster = (high << 16) | low;
    if (cluster < 2) continue;
    if (!g.IsDataCluster(cluster)) break;  // past the end of the area
    if (!ReadOneSector(g.ClusterToSector(cluster), sector)) break;
    // The "." entry of a folder's first cluster names that cluster itself.
    if (StartsWithDotPair(sector.data(), sector.size()) &&
        EntryFirstCluster(ByteReader(sector.data(), kFatEntrySize), true) == cluster)
      return cluster;
  }
  return low;
}

uint32_t CFastFatRecovery::FindFileHighWord(const std::string& name, uint16_t low) {
  std::string_view ext = NameExtension(name);
  if (ext.empty()) return low;
  const FatGeometry& g = geometry_;
  std::vector<uint8_t> sector;
  for (uint32_t high = 0; high <= kMaxHighWord; ++high) {
    uint32_t cluster = (high << 16) | low;
    if (cluster < 2) continue;
    if (!g.IsDataCluster(cluster)) break;
    uint64_t first = g.ClusterToSector(cluster);
    if (!ReadOneSector(first, sector)) break;
    uint64_t deviceSector = first * g.bytesPerSector / device_.bytesPerSector;
    if (MatchesExtension(sector.data(), sector.size(), ext, device_, device_.bytesPerSector, deviceSector) == 1)
      return cluster;
  }
  return low;
}

uint32_t CFastFatRecovery::ContentCheck(const std::string& name, uint32_t cluster) {
  std::string_view ext = NameExtension(name);
  if (ext.empty() || !geometry_.IsDataCluster(cluster)) return 1;
  std::vector<uint8_t> sector;
  uint64_t first = geometry_.ClusterToSector(cluster);
  if (!ReadOneSector(first, sector)) return 1;
  uint64_t deviceSector = first * geometry_.bytesPerSector / device_.bytesPerSector;
  return MatchesExtension(sector.data(), sector.size(), ext, device_, device_.bytesPerSector, deviceSector) ? 1 : 0;
}

int32_t CFastFatRecovery::ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) {
  if (folder == nullptr && depth != 0) return kErrInvalidParameter;
  if (!store_) return kErrInvalidParameter;
  store_->Flush();
  uint32_t id = folder ? folder->objectId : geometry_.rootCluster;
  return store_->ReadFolder(MakeRelationKey(depth, id), out);
}

int32_t CFastFatRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (folder == nullptr && depth != 0) return kErrInvalidParameter;
  if (!store_) return kErrInvalidParameter;
  store_->Flush();
  uint32_t id = folder ? folder->objectId : geometry_.rootCluster;
  return store_->CountFolderFiles(MakeRelationKey(depth, id), count);
}

uint64_t CFastFatRecovery::GetItemCount() { return store_ ? store_->AppendedCount() : 0; }

int32_t CFastFatRecovery::GetItemPath(const FoundItem* item, std::string& path) {
  path.clear();
  if (item == nullptr || !store_) return kErrInvalidParameter;
  store_->Flush();
  return store_->ItemPath(*item, path);
}

int32_t CFastFatRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  if (!store_) return 0;
  store_->Flush();
  return store_->SearchItems(pattern, out);
}

int32_t CFastFatRecovery::RecoverOne(const FoundItem& item, const std::filesystem::path& path,
                                     RecoverQueue& queue) {
  if (item.isFolder) return RecoverFolderStep(item, path, queue);
  return RecoverFatFileData(device_, fat_, bytesPerSector_, item, path, fileCallback_, context_);
}

int32_t CFastFatRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                      uint32_t baseDepth) {
  return RunRecoveryWalk(*this, item, destination, baseDepth,
                         [this](const FoundItem& one, const std::filesystem::path& path, RecoverQueue& queue) {
                           return RecoverOne(one, path, queue);
                         });
}

int32_t CFastFatRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                                      uint32_t& bufferSize, ShortCallback callback, void* context) {
  return PreviewFatItem(device_, fat_, bytesPerSector_, item, outPath, buffer, bufferSize, callback, context);
}

int32_t CFastFatRecovery::LoadAllocationBitmap() {
  const FatGeometry& g = geometry_;
  bitmap_.clear();
  bitmapClusters_ = 0;
  if (!g.valid) return kOk;
  bitmapClusters_ = g.clusterCount;
  try {
    bitmap_.assign((bitmapClusters_ + 7) / 8, 0);
  } catch (...) {
    bitmapClusters_ = 0;
    return kErrNotEnoughMemory;
  }
  auto setBit = [&](uint64_t bit) { bitmap_[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8)); };
  for (uint64_t i = 2; i <= g.MaxCluster(); ++i) {
    uint32_t value;
    if (fat_.ReadFatEntry(static_cast<uint32_t>(i), value) != kOk || value == 0) continue;
    setBit(i - 2);
    // A chain that points at a cluster marks it taken as well.
    if (!fat_.IsEndOfChain(value) && g.IsDataCluster(value)) setBit(value - 2);
  }
  return kOk;
}

int32_t CFastFatRecovery::NextFreeExtent(uint64_t& position, uint64_t& length) {
  length = 0;
  if (position > sectorCount_) {
    position = sectorCount_;
    return 1;
  }
  const FatGeometry& g = geometry_;
  if (!g.valid || bitmap_.empty()) return 1;
  // Positions count the source's sectors, which may be smaller than the volume's.
  const uint64_t ratio = g.bytesPerSector % device_.bytesPerSector == 0 ? g.bytesPerSector / device_.bytesPerSector : 1;
  const uint64_t spc = static_cast<uint64_t>(g.sectorsPerCluster) * ratio;
  const uint64_t dataStart = g.firstDataSector * ratio;
  // Work inside the data area; a position in front of it starts at cluster 2.
  uint64_t rel = position > dataStart ? position - dataStart : 0;
  uint64_t c = rel / spc;
  const uint8_t* map = bitmap_.data();
  if (c < bitmapClusters_) {
    uint64_t k = FindBit(map, c, bitmapClusters_, false);  // the first free cluster at or after c
    if (k < bitmapClusters_) {
      if (k != c) rel = k * spc;  // the start of the first free cluster
      c = k;
    }
  }
  uint64_t free = 0;
  if (c < bitmapClusters_ && !BitSet(map, c)) {
    uint64_t k = FindBit(map, c, bitmapClusters_, true);
    free = (k - c) * spc - (rel - c * spc);
  }
  uint64_t absolute = rel + dataStart;
  if (absolute >= sectorCount_) {
    length = 0;
  } else {
    length = std::min(free, sectorCount_ - absolute);
  }
  position = absolute;
  return 1;
}

}  // namespace nuvarin
