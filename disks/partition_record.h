// One row of the disk list: a volume, a stretch of unallocated space between
// or after volumes, or a disk that carries no volume at all.
#pragma once
#include <cstdint>
#include <string>

namespace nuvarin {

enum class RecordKind : uint8_t {
  kVolume = 0,     // a partition (or a file system on the whole disk)
  kGap = 1,        // unallocated space of a partitioned disk
  kBlankDisk = 2,  // a disk without any volume, listed whole
};

// The letter field before numbering: records without a drive letter carry '*'.
constexpr uint16_t kNoLetter = u'*';

// Type byte of the file systems the engines know.
constexpr uint8_t kTypeNtfs = 7;
constexpr uint8_t kTypeFat32 = 11;
constexpr uint8_t kTypeFat = 6;

struct PartitionRecord {
  // Drive letter on systems that have them; here, after numbering, the
  // record's position 1, 2, ... in the listed order. Scans copy it into
  // ScanTarget::driveLetter.
  uint16_t letter = kNoLetter;
  // 7 NTFS, 11 FAT32, 6 FAT (from the file-system name); otherwise the
  // partition-type byte of the table; 0 for gaps and blank disks.
  uint8_t type = 0;
  RecordKind kind = RecordKind::kVolume;
  int32_t diskNumber = -1;       // index into the disk table
  int32_t partitionNumber = -1;  // the table's partition number; 0 for gaps and whole-disk records
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;
  uint64_t freeBytes = 0;
  uint64_t firstSector = 0;  // in the disk's own sectors
  uint64_t sectorCount = 0;
  uint32_t sectorSize = 512;  // bytes per sector of the disk
  std::string fileSystem;     // "NTFS", "FAT32", "FAT", "exFAT", "ext4", ... (empty when unknown)
  std::string devicePath;     // "/dev/sdb1"; empty for gaps and for partitions the kernel has no node for
  std::string label;          // volume label (UTF-8)
  std::string mountPoint;     // where the volume is mounted, empty when it is not
  std::string message;        // why a figure is missing ("Permission denied ..."), empty when all is known

  bool IsGap() const { return kind == RecordKind::kGap; }
  uint64_t LengthBytes() const { return sectorCount * static_cast<uint64_t>(sectorSize); }
};

}  // namespace nuvarin
