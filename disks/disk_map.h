// The disk list: every volume of every whole disk of the disk table, the
// unallocated gaps between and after them, and disks without any volume.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disks/partition_record.h"

namespace nuvarin {

// What is known of one whole disk, also when it cannot be opened.
struct DiskInfo {
  int32_t diskNumber = -1;
  std::string name;        // "sdb", "loop3"
  std::string devicePath;  // "/dev/sdb"
  uint64_t devnum = 0;     // the device number of the whole disk
  std::string model;       // drive model from sysfs, may be empty
  uint64_t sizeBytes = 0;
  uint32_t sectorSize = 512;
  bool removable = false;
  std::string tableType;  // "dos", "gpt", or empty
  std::string message;    // why something could not be read; empty when all went well
};

// Position in the flattened order for NextRecord.
struct DiskCursor {
  size_t disk = 0;
  size_t record = 0;
};

// Without drive geometry the per-disk pass starts its running end at 63
// sectors and ignores gaps of at most one cylinder of 255 x 63 sectors.
constexpr uint64_t kFallbackRunningEnd = 63;
constexpr uint64_t kFallbackCylinder = 16065;
// Disk numbers stay below the number that marks an image file.
constexpr uint32_t kMaxDisks = 128;

class DiskMap {
 public:
  // Rebuilds the map from the disk table. Returns non-zero when the system's
  // list of block devices could be read.
  int EnumerateDisks();
  // Appends every record in listed order: disks by ascending number, each
  // disk's records by first sector.
  void FlattenDisks(std::vector<PartitionRecord>& out) const;
  // Walks the same order one record at a time; 0 at the end.
  int NextRecord(DiskCursor& cursor, PartitionRecord& out) const;
  // Rebuilds the map and appends each record of `previous` that no longer
  // has a record with the same disk number and first sector.
  void FindMissingRecords(const std::vector<PartitionRecord>& previous, std::vector<PartitionRecord>& out);

  const std::map<int32_t, std::vector<PartitionRecord>>& Records() const { return records_; }
  // Every disk of the table, in disk-number order, listed or not.
  const std::vector<DiskInfo>& Disks() const { return disks_; }
  const DiskInfo* Disk(int32_t diskNumber) const;

 private:
  std::map<int32_t, std::vector<PartitionRecord>> records_;
  std::vector<DiskInfo> disks_;
};

// The per-disk rules, on their own for tests. Records of one disk, sorted by
// first sector and already in sectors: appends a gap record for every stretch
// of more than `cylinder` sectors that no record covers, from `runningEnd` on
// and, when `diskSectors` is known (non-zero), after the last record.
void AddGapRecords(std::vector<PartitionRecord>& records, int32_t diskNumber, uint64_t diskSectors,
                   uint32_t sectorSize, uint64_t runningEnd = kFallbackRunningEnd,
                   uint64_t cylinder = kFallbackCylinder);
// Numbers the records in listed order: the counter starts at 1 and grows at
// every record; a record without a letter takes the counter's value.
void NumberRecords(std::map<int32_t, std::vector<PartitionRecord>>& records);
// Type byte of a volume: 7 / 11 / 6 for NTFS / FAT32 / FAT, else the table's.
uint8_t VolumeType(const std::string& fileSystem, uint8_t tableType);

}  // namespace nuvarin
