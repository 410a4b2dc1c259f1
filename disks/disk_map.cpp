#include "disks/disk_map.h"

#include <algorithm>
#include <filesystem>

#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/text.h"
#include "platform/volume.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

constexpr const char* kNeedRoot =
    "Permission denied: reading disks needs root (sudo) or membership of the \"disk\" group";

// MBR-style type bytes for the GPT partition types people meet; every other
// GPT partition reads as 0xEE (a GPT entry).
uint8_t GptTypeByte(const std::string& guid) {
  struct Known {
    const char* guid;
    uint8_t type;
  };
  static const Known kKnown[] = {
      {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", 0x07},  // basic data
      {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", 0x27},  // recovery
      {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", 0xEF},  // EFI system
      {"0fc63daf-8483-4772-8e79-3d69d8477de4", 0x83},  // Linux file system
      {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", 0x82},  // Linux swap
      {"e6d6d379-f507-44c2-a23c-238f2a3df928", 0x8E},  // Linux LVM
      {"a19d880f-05fc-4d3b-a006-743f0f84911e", 0xFD},  // Linux RAID
  };
  for (const auto& k : kKnown) {
    if (guid == k.guid) return k.type;
  }
  return 0xEE;
}

// Largest count of 512-byte units whose byte offset fits in 63 bits.
constexpr uint64_t kMax512 = (1ULL << 54) - 1;

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::string OpenMessage(int32_t rc) {
  if (rc == kErrAccessDenied && platform::RunningAsRoot())
    return "Access denied by the system (the device is protected by a security policy)";
  if (rc == kErrAccessDenied) return kNeedRoot;
  return "Cannot read the disk: " + ErrorMessage(rc);
}

// Sorts by first sector; equal starts keep their table order.
void SortByStart(std::vector<PartitionRecord>& records) {
  std::stable_sort(records.begin(), records.end(), [](const PartitionRecord& a, const PartitionRecord& b) {
    return a.firstSector < b.firstSector;
  });
}

struct PartitionSource {
  uint32_t number = 0;
  uint64_t start512 = 0;
  uint64_t size512 = 0;
  std::string devicePath;
  uint64_t devnum = 0;
};

// Total, used and free bytes: the mounted file system's figures, else the
// partition's length with nothing free.
void FillSpace(PartitionRecord& r, uint64_t devnum) {
  r.totalBytes = r.LengthBytes();
  r.freeBytes = 0;
  fs::path mount = platform::MountPointOf(devnum);
  if (!mount.empty()) {
    r.mountPoint = mount.string();
    uint64_t total = 0, free = 0;
    if (platform::VolumeSpace(mount, total, free) == kOk && total > 0) {
      r.totalBytes = total;
      r.freeBytes = std::min(free, total);
    }
  }
  r.usedBytes = r.totalBytes - r.freeBytes;
}

PartitionRecord MakeVolume(const DiskInfo& disk, const PartitionSource& p, uint8_t tableType,
                           bool diskReadable) {
  PartitionRecord r;
  r.kind = RecordKind::kVolume;
  r.diskNumber = disk.diskNumber;
  r.partitionNumber = static_cast<int32_t>(p.number);
  r.sectorSize = disk.sectorSize;
  r.firstSector = p.start512 * 512 / disk.sectorSize;
  r.sectorCount = p.size512 * 512 / disk.sectorSize;
  r.devicePath = p.devicePath;
  if (diskReadable) {
    int32_t rc = platform::ProbeFileSystemAt(disk.devicePath, p.start512 * 512, p.size512 * 512, r.fileSystem,
                                             &r.label);
    if (rc != kOk && rc != kErrInvalidParameter) r.message = OpenMessage(rc);
  } else {
    r.message = disk.message;
  }
  r.type = VolumeType(r.fileSystem, tableType);
  FillSpace(r, p.devnum);
  return r;
}

// Volumes, gaps or the whole-disk record of one disk.
std::vector<PartitionRecord> CollectDisk(DiskInfo& disk, const platform::SysDisk& sys) {
  std::vector<PartitionRecord> records;
  std::vector<platform::TableEntry> table;
  int32_t rc = platform::ReadPartitionTable(sys.devicePath, disk.tableType, table);
  const bool readable = rc == kOk;
  if (!readable) disk.message = OpenMessage(rc);

  std::vector<PartitionSource> sources;
  for (const auto& p : platform::ListPartitions(sys.name)) {
    sources.push_back({p.number, p.start, p.size, p.devicePath.string(), p.devnum});
  }
  // The kernel may not have read the table (loop devices without partition
  // scanning): then the table's entries stand in, without device nodes.
  if (sources.empty()) {
    for (const auto& e : table) {
      if (!e.extended) sources.push_back({e.number, e.start, e.size, {}, 0});
    }
  }
  for (const auto& s : sources) {
    uint8_t tableType = 0;
    bool extended = false;
    for (const auto& e : table) {
      if (e.number != s.number) continue;
      tableType = e.typeByte != 0 ? e.typeByte : (e.typeGuid.empty() ? 0 : GptTypeByte(e.typeGuid));
      extended = e.extended;
      break;
    }
    // An extended container holds other partitions; it is no volume. The
    // kernel shows it as a stub of one or two sectors.
    if (extended || (IsExtendedType(tableType) && s.size512 <= 2)) continue;
    // Byte offsets must fit in 64 bits (a damaged or made-up sysfs entry).
    if (s.size512 == 0 || s.start512 > kMax512 || s.size512 > kMax512 - s.start512) continue;
    records.push_back(MakeVolume(disk, s, tableType, readable));
  }

  const uint64_t diskSectors = disk.sizeBytes / disk.sectorSize;
  if (records.empty() && readable && diskSectors > 0) {
    // A file system on the whole disk (a stick formatted without a table)
    // is a volume of its own; anything else is a blank disk.
    PartitionRecord whole;
    whole.diskNumber = disk.diskNumber;
    whole.partitionNumber = 0;
    whole.sectorSize = disk.sectorSize;
    whole.firstSector = 0;
    whole.sectorCount = diskSectors;
    if (disk.tableType.empty() && platform::ProbeFileSystemAt(sys.devicePath, 0, disk.sizeBytes,
                                                              whole.fileSystem, &whole.label) == kOk) {
      whole.kind = RecordKind::kVolume;
      whole.devicePath = sys.devicePath.string();
      whole.type = VolumeType(whole.fileSystem, 0);
      FillSpace(whole, sys.devnum);
    } else {
      whole.kind = RecordKind::kBlankDisk;
      whole.type = 0;
      whole.totalBytes = whole.freeBytes = whole.LengthBytes();
      whole.usedBytes = 0;
    }
    records.push_back(std::move(whole));
    return records;
  }
  if (records.empty()) return records;
  SortByStart(records);
  AddGapRecords(records, disk.diskNumber, diskSectors, disk.sectorSize);
  SortByStart(records);
  return records;
}

}  // namespace

uint8_t VolumeType(const std::string& fileSystem, uint8_t tableType) {
  const std::string fsName = platform::AsciiLower(fileSystem);
  if (fsName == "ntfs") return kTypeNtfs;
  if (fsName == "fat32") return kTypeFat32;
  if (fsName == "fat") return kTypeFat;
  return tableType;
}

void AddGapRecords(std::vector<PartitionRecord>& records, int32_t diskNumber, uint64_t diskSectors,
                   uint32_t sectorSize, uint64_t runningEnd, uint64_t cylinder) {
  std::vector<PartitionRecord> gaps;
  auto addGap = [&](uint64_t first, uint64_t count) {
    PartitionRecord g;
    g.letter = kNoLetter;
    g.type = 0;
    g.kind = RecordKind::kGap;
    g.diskNumber = diskNumber;
    g.partitionNumber = 0;
    g.firstSector = first;
    g.sectorCount = count;
    g.sectorSize = sectorSize;
    g.totalBytes = g.freeBytes = g.LengthBytes();
    g.usedBytes = 0;
    gaps.push_back(std::move(g));
  };
  for (const auto& r : records) {
    if (r.IsGap()) continue;
    // Overlapping or nested entries never make a gap, and never move the
    // running end backwards.
    if (r.firstSector > runningEnd && r.firstSector - runningEnd > cylinder)
      addGap(runningEnd, r.firstSector - runningEnd);
    uint64_t end = r.firstSector + r.sectorCount;
    if (end < r.firstSector) end = UINT64_MAX;
    runningEnd = std::max(runningEnd, end);
  }
  if (diskSectors > runningEnd && diskSectors - runningEnd > cylinder)
    addGap(runningEnd, diskSectors - runningEnd);
  records.insert(records.end(), gaps.begin(), gaps.end());
}

void NumberRecords(std::map<int32_t, std::vector<PartitionRecord>>& records) {
  uint32_t counter = 1;
  for (auto& [disk, list] : records) {
    for (auto& r : list) {
      if (r.letter == kNoLetter) r.letter = static_cast<uint16_t>(std::min<uint32_t>(counter, 0xFFFF));
      ++counter;
    }
  }
}

int DiskMap::EnumerateDisks() {
  records_.clear();
  disks_.clear();
  std::error_code ec;
  if (!fs::is_directory(platform::SysfsRoot() / "block", ec)) return 0;
  auto sysDisks = platform::ListWholeDisks();
  for (size_t i = 0; i < sysDisks.size() && i < kMaxDisks; ++i) {
    const auto& sys = sysDisks[i];
    DiskInfo disk;
    disk.diskNumber = static_cast<int32_t>(i);
    disk.name = sys.name;
    disk.devicePath = sys.devicePath.string();
    disk.devnum = sys.devnum;
    disk.model = platform::DiskModel(sys.name);
    disk.sectorSize = platform::DiskLogicalSectorSize(sys.name);
    disk.sizeBytes = std::min(platform::DiskSize512(sys.name), kMax512) * 512;
    disk.removable = platform::IsRemovableDiskName(sys.name);
    auto list = CollectDisk(disk, sys);
    if (disk.sizeBytes == 0 && disk.message.empty()) disk.message = "No medium";
    if (!list.empty()) records_[disk.diskNumber] = std::move(list);
    disks_.push_back(std::move(disk));
  }
  NumberRecords(records_);
  return 1;
}

void DiskMap::FlattenDisks(std::vector<PartitionRecord>& out) const {
  for (const auto& [disk, list] : records_) out.insert(out.end(), list.begin(), list.end());
}

int DiskMap::NextRecord(DiskCursor& cursor, PartitionRecord& out) const {
  auto it = records_.begin();
  for (size_t i = 0; i < cursor.disk && it != records_.end(); ++i) ++it;
  while (it != records_.end()) {
    if (cursor.record < it->second.size()) {
      out = it->second[cursor.record++];
      return 1;
    }
    ++it;
    ++cursor.disk;
    cursor.record = 0;
  }
  return 0;
}

void DiskMap::FindMissingRecords(const std::vector<PartitionRecord>& previous,
                                 std::vector<PartitionRecord>& out) {
  EnumerateDisks();
  for (const auto& old : previous) {
    bool found = false;
    auto it = records_.find(old.diskNumber);
    if (it != records_.end()) {
      for (const auto& r : it->second) {
        if (r.firstSector == old.firstSector) {
          found = true;
          break;
        }
      }
    }
    if (!found) out.push_back(old);
  }
}

const DiskInfo* DiskMap::Disk(int32_t diskNumber) const {
  for (const auto& d : disks_) {
    if (d.diskNumber == diskNumber) return &d;
  }
  return nullptr;
}

}  // namespace nuvarin
