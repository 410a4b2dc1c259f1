// The sweep side of the FAT directory search: opening the area and the log,
// the boot layout, layouts inferred from subdirectory anchors, and the
// processing of directory sectors with their long-name tails.
#include "fat/fat_directory_search.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "fat/boot_values.h"
#include "fat/dir_entry.h"
#include "fat/entry_names.h"
#include "platform/error_codes.h"
#include "platform/text.h"
#include "signature/catalogue.h"
#include "storage/boot_probes.h"
#include "storage/byte_reader.h"
#include "storage/scan_log_index.h"

namespace nuvarin {
namespace {

constexpr size_t kBootReadBytes = 4096;
// The longest long-name chain a directory scan accepts is 19 parts; a tail
// longer than that is not a name.
constexpr size_t kMaxTailBytes = 20 * kFatEntrySize;
constexpr uint32_t kMaxHighWord = 256;
constexpr uint32_t kFixedRootSectors = 32;
// Kept-aside sectors after a tail that are tried as its continuation.
constexpr size_t kTailLookahead = 64;

bool IsPowerOfTwoClusterSize(uint64_t spc) {
  return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0;
}

// Whether the signature catalogue has a test for the extension; for any other
// the content check agrees without reading the file's first sector.
bool HasSignatureTest(std::string_view ext) {
  static const std::set<std::string, std::less<>> known = [] {
    std::set<std::string, std::less<>> names;
    for (const CatalogueRow& row : CatalogueRows()) {
      if (row.extension != nullptr) names.insert(platform::AsciiLower(row.extension));
    }
    return names;
  }();
  return known.find(platform::AsciiLower(ext)) != known.end();
}

uint8_t NameChecksum(const ByteReader& e) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e.u8(i));
  return sum;
}

uint32_t EntryCluster(const ByteReader& e) {
  return (static_cast<uint32_t>(e.le16(20)) << 16) | e.le16(26);
}

bool IsDotEntry(const ByteReader& e) {
  return e.u8(0) == '.' && e.u8(1) == ' ';
}
bool IsDotDotEntry(const ByteReader& e) {
  return e.u8(0) == '.' && e.u8(1) == '.' && e.u8(2) == ' ';
}

// "." then ".." at the start of a directory cluster's first sector.
bool StartsWithDotPair(const uint8_t* sector, size_t length) {
  ByteReader r(sector, length);
  return r.has(0, 2 * kFatEntrySize) && IsDotEntry(r) && IsDotDotEntry(r.from(kFatEntrySize));
}

}  // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery() = default;

CProfessionalFatRecovery::~CProfessionalFatRecovery() {
  CloseStore();
}

// ---------------------------------------------------------------------------
// Area, callbacks, log

int32_t CProfessionalFatRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  if (device_.IsOpen()) return kOk;
  int32_t rc = OpenImageFile(imagePath, device_);
  if (rc != kOk) return rc;
  areaStart_ = 0;
  areaCount_ = device_.sectorCount;
  bytesPerSector_ = device_.bytesPerSector != 0 ? device_.bytesPerSector : 512;
  driveLetter_ = driveLetter;
  context_.reset();
  return kOk;
}

int32_t CProfessionalFatRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                           uint16_t driveLetter) {
  if (device_.IsOpen()) return kOk;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  driveLetter_ = driveLetter;
  areaStart_ = startSector;
  context_.reset();
  if (rc != kOk) {
    areaCount_ = 0;
    return rc;
  }
  bytesPerSector_ = device_.bytesPerSector != 0 ? device_.bytesPerSector : 512;
  // The area's own length bounds every read, clipped to what the disk holds.
  uint64_t available = device_.sectorCount > startSector ? device_.sectorCount - startSector : 0;
  areaCount_ = std::min(sectorCount, available);
  return kOk;
}

int32_t CProfessionalFatRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file,
                                                      void* context, int32_t weight) {
  progress_ = progress;
  fileCallback_ = file;
  fileContext_ = context;
  weight_ = weight;
  return kOk;
}

int32_t CProfessionalFatRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  searchCallback_ = callback;
  searchContext_ = context;
  if (store_) store_->SetSearchCallback(callback, context);
  return kOk;
}

void CProfessionalFatRecovery::ResetSweepState() {
  anchors_.clear();
  layouts_.clear();
  votes_.clear();
  pending_.clear();
  tails_.clear();
  unplaced_.clear();
  folders_.clear();
  needed_.clear();
  parentCache_.clear();
  levelCache_.clear();
  context_.reset();
  pendingJoin_.reset();
  bootLayout_ = false;
  rootAreaSectors_ = 0;
}

void CProfessionalFatRecovery::CloseStore() {
  if (store_) store_->Close();
  store_.reset();
}

int32_t CProfessionalFatRecovery::OpenProLog(const char* name) {
  ResetSweepState();
  CloseStore();
  std::string logName =
      (name != nullptr && *name != '\0') ? std::string(name) : MakeLogName("Pro_Fat_", areaStart_);
  auto store = std::make_unique<ScanLogStore>();
  int32_t rc = store->Open(ScanLogIndex::Instance().CurrentLogFolder(), logName);
  if (rc != kOk) return rc;
  store->SetSearchCallback(searchCallback_, searchContext_);
  // A reopened log continues a stopped scan: its folders are not written twice.
  writtenFolders_.clear();
  for (const DirInfoRecord& folder : store->FolderNames()) writtenFolders_.insert(folder.objectId);
  store_ = std::move(store);
  return kOk;
}

bool CProfessionalFatRecovery::InArea(uint64_t absoluteSector) const {
  return absoluteSector >= areaStart_ && absoluteSector - areaStart_ < areaCount_;
}

int32_t CProfessionalFatRecovery::ReadArea(uint64_t absoluteSector, uint64_t count, uint8_t* buffer,
                                           uint64_t& got) const {
  got = 0;
  if (count == 0) return kOk;
  if (!device_.IsOpen() || !InArea(absoluteSector)) return kErrInvalidParameter;
  uint64_t left = areaCount_ - (absoluteSector - areaStart_);
  return ReadSectors(std::min(count, left), device_, buffer, absoluteSector, bytesPerSector_, got);
}

// ---------------------------------------------------------------------------
// Layouts

int32_t CProfessionalFatRecovery::PrepareSweep() {
  const uint64_t sectors = std::max<uint64_t>(1, kBootReadBytes / bytesPerSector_);
  std::vector<uint8_t> boot(sectors * bytesPerSector_);
  uint64_t got = 0;
  int32_t rc = ReadArea(areaStart_, sectors, boot.data(), got);
  if (got == 0) return rc != kOk ? rc : kErrReadFault;
  size_t bytes = static_cast<size_t>(std::min<uint64_t>(got * bytesPerSector_, boot.size()));
  if (!ProbeFatBoot(boot.data(), bytes)) return kOk;
  FatGeometry g;
  if (!ParseFatGeometry(ByteReader(boot.data(), bytes), areaStart_, 0, g)) return kOk;
  // The boot sector counts in its own sector size; the sweep in the area's.
  if (g.bytesPerSector < bytesPerSector_ || g.bytesPerSector % bytesPerSector_ != 0) return kOk;
  const uint64_t scale = g.bytesPerSector / bytesPerSector_;
  uint64_t spc = static_cast<uint64_t>(g.sectorsPerCluster) * scale;
  uint64_t dataStart = g.firstDataSector * scale;
  if (spc == 0 || spc > UINT32_MAX || dataStart > UINT32_MAX) return kOk;
  votes_.insert(votes_.begin(), 0);
  layouts_.insert(layouts_.begin(),
                  FatLayout{static_cast<uint32_t>(spc), static_cast<uint32_t>(dataStart), areaStart_});
  rootCluster_ = g.isFat32 ? g.rootCluster : 0;
  rootAreaSectors_ =
      g.isFat32 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(g.rootDirSectors * scale, dataStart));
  bootLayout_ = true;
  return kOk;
}

uint32_t CProfessionalFatRecovery::ClusterBytes(int layout) const {
  if (layout < 0 || static_cast<size_t>(layout) >= layouts_.size()) return 0;
  uint64_t bytes = static_cast<uint64_t>(layouts_[layout].sectorsPerCluster) * bytesPerSector_;
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

// Sectors of the fixed root directory in front of a layout's data area: the
// boot sector's own count for its layout (none on FAT32), else the 32 sectors
// of the usual 512 root entries, where an old FAT12/16 root may survive.
uint32_t CProfessionalFatRecovery::RootAreaSectors(int layout) const {
  if (layout < 0 || static_cast<size_t>(layout) >= layouts_.size()) return 0;
  if (layout == 0 && bootLayout_) return rootAreaSectors_;
  return layouts_[layout].dataStart >= kFixedRootSectors ? kFixedRootSectors : 0;
}

bool CProfessionalFatRecovery::ClusterStart(int layout, uint32_t cluster, uint64_t& sector) const {
  if (layout < 0 || static_cast<size_t>(layout) >= layouts_.size()) return false;
  const FatLayout& l = layouts_[layout];
  uint64_t base = l.volumeStart + l.dataStart;
  if (cluster == 0 && RootAreaSectors(layout) != 0) {
    sector = base - RootAreaSectors(layout);
    return true;
  }
  if (cluster < 2) return false;
  uint64_t offset;
  if (!CheckedMul<uint64_t>(cluster - 2, l.sectorsPerCluster, offset)) return false;
  return CheckedAdd(base, offset, sector);
}

int CProfessionalFatRecovery::LayoutForClusterAt(uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < layouts_.size(); ++i) {
    uint64_t s;
    if (ClusterStart(static_cast<int>(i), cluster, s) && s == sector) return static_cast<int>(i);
  }
  return kNoLayout;
}

int CProfessionalFatRecovery::LayoutStartingClusterAt(uint64_t sector, uint32_t& cluster) const {
  int best = kNoLayout;
  for (size_t i = 0; i < layouts_.size(); ++i) {
    const FatLayout& l = layouts_[i];
    uint64_t base = l.volumeStart + l.dataStart;
    uint32_t c = 0;
    if (sector < base) {
      // Every sector of a fixed root area belongs to the root directory.
      if (base - sector > RootAreaSectors(static_cast<int>(i))) continue;
    } else {
      uint64_t d = sector - base;
      if (d % l.sectorsPerCluster != 0) continue;
      uint64_t n = d / l.sectorsPerCluster + 2;
      if (n > UINT32_MAX) continue;
      c = static_cast<uint32_t>(n);
    }
    // The first candidate, unless a later one has placed more directories.
    if (best == kNoLayout || votes_[i] > votes_[best]) {
      best = static_cast<int>(i);
      cluster = c;
    }
  }
  return best;
}

int CProfessionalFatRecovery::LayoutContaining(uint64_t sector, uint32_t& cluster) const {
  for (size_t i = 0; i < layouts_.size(); ++i) {
    const FatLayout& l = layouts_[i];
    uint64_t base = l.volumeStart + l.dataStart;
    if (sector < base) continue;
    uint64_t c = (sector - base) / l.sectorsPerCluster + 2;
    if (c > UINT32_MAX) continue;
    cluster = static_cast<uint32_t>(c);
    return static_cast<int>(i);
  }
  return kNoLayout;
}

int CProfessionalFatRecovery::LayoutForPendingEntry(uint64_t sector) const {
  if (layouts_.empty()) return kNoLayout;
  if (layouts_.size() >= 2) {
    int best = kNoLayout;
    uint64_t bestBase = 0;
    for (size_t i = bootLayout_ ? 1 : 0; i < layouts_.size(); ++i) {
      uint64_t base = layouts_[i].volumeStart + layouts_[i].dataStart;
      if (base <= sector && (best == kNoLayout || base > bestBase)) {
        best = static_cast<int>(i);
        bestBase = base;
      }
    }
    if (best != kNoLayout) return best;
  }
  return 0;
}

void CProfessionalFatRecovery::AddAnchor(uint32_t cluster, uint64_t sector) {
  // Past the cap (a disk full of stray "." entries) nothing more is inferred,
  // so that each subdirectory start costs at most one pass over the list.
  if (cluster < 2 || anchors_.size() >= kMaxAnchors) return;
  for (const DirAnchor& other : anchors_) {
    if (other.cluster == cluster) continue;
    const DirAnchor& a = other.cluster > cluster ? other : DirAnchor{cluster, sector};
    const DirAnchor& b = other.cluster > cluster ? DirAnchor{cluster, sector} : other;
    if (a.sector <= b.sector) continue;
    uint64_t sectors = a.sector - b.sector;
    uint64_t clusters = a.cluster - b.cluster;
    if (sectors % clusters != 0) continue;
    uint64_t spc = sectors / clusters;
    if (!IsPowerOfTwoClusterSize(spc)) continue;
    uint64_t before = spc * (b.cluster - 2);
    if (before > b.sector) continue;
    uint64_t cluster2 = b.sector - before;
    if (cluster2 < areaStart_) continue;
    FatLayout layout{static_cast<uint32_t>(spc), 0, areaStart_};
    if (cluster2 - areaStart_ <= UINT32_MAX) {
      layout.dataStart = static_cast<uint32_t>(cluster2 - areaStart_);
    } else {
      layout.volumeStart = cluster2;
    }
    bool known = std::any_of(layouts_.begin(), layouts_.end(), [&](const FatLayout& l) {
      return l.sectorsPerCluster == layout.sectorsPerCluster &&
             l.volumeStart + l.dataStart == layout.volumeStart + layout.dataStart;
    });
    if (!known && layouts_.size() < kMaxLayouts) {
      layouts_.push_back(layout);
      votes_.push_back(1);  // the earlier anchor; the new one votes when it is placed
    }
    break;
  }
  anchors_.push_back(DirAnchor{cluster, sector});
}

// ---------------------------------------------------------------------------
// Sectors handed over by the sweep

void CProfessionalFatRecovery::HandleSubdirectoryStart(const uint8_t* sector, size_t length,
                                                       uint64_t absoluteSector) {
  if (sector == nullptr || length < 2 * kFatEntrySize) return;
  ByteReader dot(sector, kFatEntrySize);
  uint32_t cluster = EntryCluster(dot);
  int layout = LayoutForClusterAt(cluster, absoluteSector);
  if (layout == kNoLayout) {
    size_t before = layouts_.size();
    AddAnchor(cluster, absoluteSector);
    layout = LayoutForClusterAt(cluster, absoluteSector);
    // Files met before this layout existed may fit it.
    if (layouts_.size() != before) PlacePendingFiles();
  }
  if (layout != kNoLayout) ++votes_[layout];
  ProcessSector(sector, length, layout, absoluteSector, cluster);
}

void CProfessionalFatRecovery::HandleEntrySector(const uint8_t* sector, size_t length,
                                                 uint64_t absoluteSector) {
  if (sector == nullptr || length < kFatEntrySize) return;
  if (TryJoinTail(sector, length, absoluteSector)) return;
  if (context_ && context_->layout != kNoLayout && absoluteSector > context_->sector &&
      absoluteSector - context_->sector <= layouts_[context_->layout].sectorsPerCluster) {
    ProcessSector(sector, length, context_->layout, absoluteSector, context_->cluster);
    return;
  }
  uint32_t cluster = 0;
  int layout = LayoutStartingClusterAt(absoluteSector, cluster);
  if (layout != kNoLayout) {
    ProcessSector(sector, length, layout, absoluteSector, cluster);
    return;
  }
  KeepUnplaced(sector, length, absoluteSector);
}

void CProfessionalFatRecovery::KeepUnplaced(const uint8_t* data, size_t length, uint64_t sector) {
  if (unplaced_.size() >= kMaxUnplacedSectors && unplaced_.find(sector) == unplaced_.end()) return;
  unplaced_[sector].assign(data, data + length);
}

bool CProfessionalFatRecovery::ContinuesTail(const OpenTail& tail, const uint8_t* data, size_t length,
                                             uint64_t sector) const {
  if (length < kFatEntrySize || sector <= tail.lastSector) return false;
  ByteReader e(data, kFatEntrySize);
  if (e.u8(11) == kFatAttrLongName) return e.u8(13) == tail.checksum;
  if (e.u8(0) == kFatDeletedMark) {
    uint64_t reach = tail.layout != kNoLayout ? layouts_[tail.layout].sectorsPerCluster : 1;
    return sector - tail.lastSector <= reach;
  }
  return NameChecksum(e) == tail.checksum;
}

bool CProfessionalFatRecovery::TryJoinTail(const uint8_t* data, size_t length, uint64_t sector) {
  // The tail that ends nearest before this sector.
  auto it = tails_.lower_bound(sector);
  if (it == tails_.begin()) return false;
  --it;
  if (!ContinuesTail(it->second, data, length, sector)) return false;
  OpenTail tail = std::move(it->second);
  tails_.erase(it);
  JoinAndProcess(std::move(tail), data, length, sector);
  return true;
}

void CProfessionalFatRecovery::JoinAndProcess(OpenTail tail, const uint8_t* data, size_t length,
                                              uint64_t sector) {
  JoinOnce(std::move(tail), data, length, sector);
  DrainJoins();
}

void CProfessionalFatRecovery::DrainJoins() {
  while (pendingJoin_) {
    PendingJoin next = std::move(*pendingJoin_);
    pendingJoin_.reset();
    JoinOnce(std::move(next.tail), next.data.data(), next.data.size(), next.sector);
  }
}

void CProfessionalFatRecovery::JoinOnce(OpenTail tail, const uint8_t* data, size_t length, uint64_t sector) {
  std::vector<uint8_t> joined = std::move(tail.bytes);
  const size_t headBytes = joined.size();
  joined.insert(joined.end(), data, data + length);
  Placement where{headBytes, tail.sector, tail.offset, sector};
  ProcessBuffer(joined.data(), joined.size(), tail.layout, where, tail.directory);
}

void CProfessionalFatRecovery::KeepTail(OpenTail tail) {
  // A sector that was kept aside may be the continuation: the next sector, or
  // one that starts with a part or the short entry of this chain.
  auto next = unplaced_.find(tail.lastSector + 1);
  if (next == unplaced_.end()) {
    size_t looked = 0;
    for (auto it = unplaced_.upper_bound(tail.lastSector); it != unplaced_.end() && looked < kTailLookahead;
         ++it, ++looked) {
      ByteReader e(it->second.data(), it->second.size());
      bool carries =
          e.u8(11) == kFatAttrLongName ? e.u8(13) == tail.checksum : NameChecksum(e) == tail.checksum;
      if (carries && e.u8(0) != 0) {
        next = it;
        break;
      }
    }
  }
  if (next != unplaced_.end() && ContinuesTail(tail, next->second.data(), next->second.size(), next->first)) {
    auto node = unplaced_.extract(next);
    pendingJoin_ = PendingJoin{std::move(tail), std::move(node.mapped()), node.key()};
    return;
  }
  if (tails_.size() >= kMaxOpenTails) tails_.erase(tails_.begin());
  uint64_t key = tail.lastSector;
  tails_[key] = std::move(tail);
}

void CProfessionalFatRecovery::ProcessSector(const uint8_t* data, size_t length, int layout, uint64_t sector,
                                             uint32_t directory) {
  ProcessBuffer(data, length, layout, Placement{0, sector, 0, sector}, directory);
  DrainJoins();
}

void CProfessionalFatRecovery::ProcessBuffer(const uint8_t* data, size_t length, int layout,
                                             const Placement& where, uint32_t directory) {
  ByteReader all(data, length);
  const size_t count = length / kFatEntrySize;
  const bool searchHighWords = layout != kNoLayout && rootCluster_ != 0;
  auto sectorOf = [&](size_t offset) {
    if (offset < where.headBytes) return where.headSector + (where.headOffset + offset) / bytesPerSector_;
    return where.bodySector + (offset - where.headBytes) / bytesPerSector_;
  };

  LongName longName;
  size_t chainStart = SIZE_MAX;
  uint8_t chainChecksum = 0;
  uint32_t dir = directory;
  bool ended = false;
  for (size_t i = 0; i < count && !ended; ++i) {
    const size_t off = i * kFatEntrySize;
    ByteReader e = all.from(off);
    if (e.u8(0) == 0) {
      ended = true;
      break;
    }
    if (!IsPlausibleEntry(data + off, length - off)) {
      longName.Reset();
      chainStart = SIZE_MAX;
      continue;
    }
    const uint8_t attr = e.u8(11);
    if (attr == kFatAttrLongName) {
      if (longName.Empty()) {
        chainStart = off;
        chainChecksum = e.u8(13);
      }
      if (!longName.Add(e)) ended = true;
      continue;
    }
    std::string longText = longName.Empty() ? std::string() : longName.Text();
    longName.Reset();
    chainStart = SIZE_MAX;
    const bool deleted = e.u8(0) == kFatDeletedMark;
    const uint64_t entrySector = sectorOf(off);
    uint32_t first = EntryCluster(e);

    if (attr & kFatAttrDirectory) {
      if (IsDotEntry(e)) {
        dir = first;
        if (layout == kNoLayout) context_.reset();
        continue;
      }
      if (IsDotDotEntry(e)) continue;
      if (deleted && e.le16(20) == 0 && searchHighWords) first = SearchFolderHighWord(layout, first);
      if (first == 0 || first == dir) continue;
      if (folders_.size() >= kMaxFolders && folders_.find(first) == folders_.end()) continue;
      FolderEntry& f = folders_[first];
      f.name = longText.empty() ? ShortName(e, true) : longText;
      EntryTimeValues t = EntryTimes(e);
      f.creation = t.creation;
      f.access = t.access;
      f.modification = t.modification;
      f.entrySector = entrySector;
      f.parent = dir;
      f.deleted = deleted;
      f.layout = layout;
      continue;
    }
    if (attr & kFatAttrArchive) {
      std::string name = longText.empty() ? ShortName(e, false) : longText;
      if (deleted && e.le16(20) == 0 && searchHighWords && e.le32(28) != 0)
        first = SearchFileHighWord(layout, name, first);
      FoundItem record;
      std::memset(&record, 0, sizeof(record));
      record.driveLetter = driveLetter_;
      record.sourceKind = kSourceFatDirectorySearch;
      record.objectId = first;
      EntryTimeValues t = EntryTimes(e);
      record.creationTime = t.creation;
      record.accessTime = t.access;
      record.modificationTime = t.modification;
      record.size = e.le32(28);
      record.entrySector = entrySector;
      record.SetName(name);
      if (layout != kNoLayout) {
        WriteFile(record, layout, dir);
      } else if (pending_.size() < kMaxPendingFiles) {
        pending_.push_back(PendingFile{record, dir, false});
      }
      continue;
    }
    // Volume labels and the like carry no object.
  }

  const uint64_t lastSector = length ? sectorOf(length - 1) : where.bodySector;
  if (layout != kNoLayout) context_ = Context{layout, dir, lastSector};

  if (!ended && chainStart != SIZE_MAX && length - chainStart <= kMaxTailBytes) {
    OpenTail tail;
    tail.checksum = chainChecksum;
    tail.layout = layout;
    tail.directory = dir;
    tail.sector = sectorOf(chainStart);
    tail.offset = chainStart < where.headBytes ? (where.headOffset + chainStart) % bytesPerSector_
                                               : (chainStart - where.headBytes) % bytesPerSector_;
    tail.lastSector = lastSector;
    tail.bytes.assign(data + chainStart, data + length);
    KeepTail(std::move(tail));
  }
}

// ---------------------------------------------------------------------------
// High cluster words of deleted FAT32 entries and the content check

uint32_t CProfessionalFatRecovery::SearchFolderHighWord(int layout, uint32_t low) const {
  std::vector<uint8_t> sector(bytesPerSector_);
  for (uint32_t high = 0; high <= kMaxHighWord; ++high) {
    uint32_t cluster = (high << 16) | low;
    uint64_t start;
    if (!ClusterStart(layout, cluster, start) || !InArea(start)) break;
    uint64_t got = 0;
    if (ReadArea(start, 1, sector.data(), got) != kOk || got == 0) break;
    if (StartsWithDotPair(sector.data(), sector.size())) return cluster;
  }
  return low;
}

uint32_t CProfessionalFatRecovery::SearchFileHighWord(int layout, const std::string& name,
                                                      uint32_t low) const {
  std::string_view ext = NameExtension(name);
  if (ext.empty() || !HasSignatureTest(ext)) return low;
  std::vector<uint8_t> sector(bytesPerSector_);
  for (uint32_t high = 0; high <= kMaxHighWord; ++high) {
    uint32_t cluster = (high << 16) | low;
    uint64_t start;
    if (!ClusterStart(layout, cluster, start) || !InArea(start)) break;
    uint64_t got = 0;
    if (ReadArea(start, 1, sector.data(), got) != kOk || got == 0) break;
    if (MatchesExtension(sector.data(), sector.size(), ext, device_, bytesPerSector_, start) == 1)
      return cluster;
  }
  return low;
}

uint32_t CProfessionalFatRecovery::ContentCheck(const FoundItem& record) const {
  std::string_view ext = NameExtension(record.Name());
  if (ext.empty() || !HasSignatureTest(ext) || record.objectId < 2 || record.clusterSize == 0) return 1;
  uint64_t spc = record.clusterSize / bytesPerSector_;
  uint64_t offset, sector;
  if (!CheckedMul<uint64_t>(record.objectId - 2, spc, offset) ||
      !CheckedAdd<uint64_t>(record.volumeStartSector + record.dataStartSector, offset, sector))
    return 1;
  std::vector<uint8_t> buffer(bytesPerSector_);
  uint64_t got = 0;
  if (ReadArea(sector, 1, buffer.data(), got) != kOk || got == 0) return 1;
  return MatchesExtension(buffer.data(), buffer.size(), ext, device_, bytesPerSector_, sector) == 0 ? 0 : 1;
}

}  // namespace nuvarin
