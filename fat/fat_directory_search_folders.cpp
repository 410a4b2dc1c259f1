// The folder side of the FAT directory search: writing files under their
// layout, the parent and level of a folder cluster read through its ".."
// entry, pending files, and the folder pass after the sweep.
#include <cstdio>
#include <cstring>
#include <set>

#include "fat/dir_entry.h"
#include "fat/entry_names.h"
#include "fat/fat_directory_search.h"
#include "platform/error_codes.h"
#include "storage/byte_reader.h"

namespace nuvarin {
namespace {

// No real folder tree is deeper; a longer chain of ".." entries loops.
constexpr size_t kMaxFolderDepth = 256;

}  // namespace

bool CProfessionalFatRecovery::ReadDotDot(int layout, uint32_t cluster, uint32_t& parent) const {
  uint64_t start;
  if (!ClusterStart(layout, cluster, start)) return false;
  std::vector<uint8_t> sector(bytesPerSector_);
  uint64_t got = 0;
  if (ReadArea(start, 1, sector.data(), got) != kOk || got == 0) return false;
  ByteReader r(sector.data(), sector.size());
  if (!IsDotPair(sector.data(), sector.size())) return false;
  ByteReader dotdot = r.from(kFatEntrySize);
  parent = (static_cast<uint32_t>(dotdot.le16(20)) << 16) | dotdot.le16(26);
  return true;
}

// The parent of a folder cluster: its own ".." entry when its first sector is
// a "." and ".." pair, else the directory its entry was seen in, else the
// root. Kept once found, so that every file and folder of the log sees the
// same tree.
uint32_t CProfessionalFatRecovery::ParentOf(int layout, uint32_t cluster) {
  if (IsRoot(cluster)) return rootCluster_;
  auto key = std::make_pair(layout, cluster);
  auto hit = parentCache_.find(key);
  if (hit != parentCache_.end()) return hit->second;
  uint32_t parent = rootCluster_;
  uint32_t dotdot;
  if (ReadDotDot(layout, cluster, dotdot)) {
    parent = NormalizeParent(dotdot);
  } else if (auto f = folders_.find(cluster); f != folders_.end()) {
    parent = NormalizeParent(f->second.parent);
  }
  if (parent == cluster) parent = rootCluster_;
  if (parentCache_.size() < kMaxCachedFolders) parentCache_[key] = parent;
  return parent;
}

// Level below the root: 0 for the root, 1 for a folder in it. A chain that
// loops or runs too deep is cut: its last folder is taken to lie in the root,
// and that parent is kept for it.
uint32_t CProfessionalFatRecovery::LevelOf(int layout, uint32_t cluster) {
  if (IsRoot(cluster)) return 0;
  auto cached = levelCache_.find({layout, cluster});
  if (cached != levelCache_.end()) return cached->second;
  std::vector<uint32_t> chain;
  std::set<uint32_t> seen;
  uint32_t c = cluster;
  uint32_t baseLevel = 0;
  while (true) {
    chain.push_back(c);
    seen.insert(c);
    uint32_t parent = ParentOf(layout, c);
    if (IsRoot(parent)) break;
    if (auto known = levelCache_.find({layout, parent}); known != levelCache_.end()) {
      baseLevel = known->second;
      break;
    }
    if (seen.count(parent) != 0 || chain.size() >= kMaxFolderDepth) {
      parentCache_[{layout, c}] = rootCluster_;
      break;
    }
    c = parent;
  }
  for (size_t i = 0; i < chain.size(); ++i) {
    uint32_t level = baseLevel + static_cast<uint32_t>(chain.size() - i);
    if (levelCache_.size() < kMaxCachedFolders) levelCache_[{layout, chain[i]}] = level;
  }
  return baseLevel + static_cast<uint32_t>(chain.size());
}

void CProfessionalFatRecovery::NoteNeededFolders(uint32_t directory, int layout, uint64_t sector) {
  uint32_t id = NormalizeParent(directory);
  for (size_t step = 0; step < kMaxFolderDepth && !IsRoot(id); ++step) {
    if (!needed_.emplace(id, NeededFolder{layout, sector}).second) break;
    id = ParentOf(layout, id);
  }
}

void CProfessionalFatRecovery::WriteFile(const FoundItem& record, int layout, uint32_t directory) {
  if (!store_ || layout < 0 || static_cast<size_t>(layout) >= layouts_.size()) return;
  const FatLayout& l = layouts_[layout];
  FoundItem item = record;
  item.isFolder = 0;
  item.clusterSize = ClusterBytes(layout);
  item.dataStartSector = l.dataStart;
  item.volumeStartSector = l.volumeStart;
  item.contentCheck = ContentCheck(item);
  const uint32_t parent = NormalizeParent(directory);
  const uint32_t level = LevelOf(layout, parent);
  uint32_t itemId = 0;
  FoundItem* slot = store_->AppendItem(itemId);
  if (slot == nullptr) return;
  item.itemId = itemId;
  std::memcpy(static_cast<void*>(slot), &item, sizeof(item));
  store_->AddRelation(MakeRelationKey(level, parent), itemId, item.objectId, nullptr);
  NoteNeededFolders(parent, layout, item.entrySector);
}

void CProfessionalFatRecovery::PlacePendingFiles() {
  for (size_t li = 0; li < layouts_.size() && !pending_.empty(); ++li) {
    const int layout = static_cast<int>(li);
    for (PendingFile& p : pending_) {
      if (p.written) continue;
      uint64_t start;
      if (!ClusterStart(layout, p.directory, start)) continue;
      // The entry lies in the first cluster of its directory under this layout.
      if (p.record.entrySector < start || p.record.entrySector - start >= layouts_[li].sectorsPerCluster)
        continue;
      WriteFile(p.record, layout, p.directory);
      p.written = true;
    }
  }
  std::erase_if(pending_, [](const PendingFile& p) { return p.written; });
}

void CProfessionalFatRecovery::WriteFolders() {
  if (!store_) return;
  for (const auto& [cluster, need] : needed_) {
    const int layout = need.layout;
    if (layout < 0 || static_cast<size_t>(layout) >= layouts_.size()) continue;
    if (!writtenFolders_.insert(cluster).second) continue;
    const FatLayout& l = layouts_[layout];
    const uint32_t parent = ParentOf(layout, cluster);
    const uint32_t level = LevelOf(layout, parent);
    FoundItem item;
    std::memset(&item, 0, sizeof(item));
    item.driveLetter = driveLetter_;
    item.sourceKind = kSourceFatDirectorySearch;
    item.isFolder = 1;
    item.contentCheck = 1;
    item.objectId = cluster;
    item.dataStartSector = l.dataStart;
    item.volumeStartSector = l.volumeStart;
    if (auto f = folders_.find(cluster); f != folders_.end()) {
      const FolderEntry& entry = f->second;
      item.isDeleted = entry.deleted ? 1 : 0;
      item.clusterSize = ClusterBytes(layout);
      item.creationTime = entry.creation;
      item.accessTime = entry.access;
      item.modificationTime = entry.modification;
      item.entrySector = entry.entrySector;
      item.SetName(entry.name);
    } else {
      char name[32];
      std::snprintf(name, sizeof(name), "LostFolder%u", cluster);
      item.clusterSize = kNoClusterSize;
      item.entrySector = need.sector;
      item.SetName(name);
    }
    uint32_t itemId = 0;
    FoundItem* slot = store_->AppendItem(itemId);
    if (slot == nullptr) continue;
    item.itemId = itemId;
    std::memcpy(static_cast<void*>(slot), &item, sizeof(item));
    std::string name(item.Name());
    store_->AddRelation(MakeRelationKey(level, parent), itemId, cluster, name.c_str());
  }
}

int32_t CProfessionalFatRecovery::FinishFolders() {
  // Sectors that fitted no layout while sweeping, now with every layout known.
  while (!unplaced_.empty()) {
    auto node = unplaced_.extract(unplaced_.begin());
    const uint64_t sector = node.key();
    const std::vector<uint8_t>& data = node.mapped();
    if (TryJoinTail(data.data(), data.size(), sector)) continue;
    uint32_t cluster = 0;
    int layout = LayoutStartingClusterAt(sector, cluster);
    if (layout == kNoLayout) {
      layout = LayoutForPendingEntry(sector);
      if (layout == kNoLayout) continue;
      uint32_t containing = 0;
      int l = LayoutContaining(sector, containing);
      cluster = l == layout ? containing : rootCluster_;
    }
    context_.reset();
    ProcessSector(data.data(), data.size(), layout, sector, cluster);
  }
  tails_.clear();

  // Files first, so that the folders they need are all written below.
  PlacePendingFiles();
  for (PendingFile& p : pending_) {
    int layout = LayoutForPendingEntry(p.record.entrySector);
    if (layout == kNoLayout) continue;
    WriteFile(p.record, layout, p.directory);
  }
  pending_.clear();

  WriteFolders();
  needed_.clear();
  folders_.clear();
  return store_ ? store_->Flush() : kOk;
}

}  // namespace nuvarin
