// The disk table: whole disks of /sys/block, numbered in name order. Disk
// index N everywhere in the program is entry N of this table.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nuvarin::platform {

struct SysDisk {
  std::string name;                  // "sda", "nvme0n1", "loop3"
  std::filesystem::path devicePath;  // "/dev/sda"
  uint64_t devnum = 0;               // major:minor as a dev_t
};

struct SysPartition {
  std::string name;                  // "sda1"
  std::filesystem::path devicePath;  // "/dev/sda1"
  uint32_t number = 0;               // the kernel's partition number
  uint64_t start = 0;                // first sector, in 512-byte units as sysfs gives it
  uint64_t size = 0;                 // length, in 512-byte units
  uint64_t devnum = 0;
};

// Tests point the layer at a fake tree ("<root>/block/<disk>/...") and a
// fake /dev. Empty paths restore "/sys" and "/dev".
void SetSysfsRoot(const std::filesystem::path& root);
void SetDevRoot(const std::filesystem::path& root);
std::filesystem::path SysfsRoot();
std::filesystem::path DevRoot();

// Whole disks (sd*, vd*, nvme*n*, mmcblk*, hd*, xvd*, and loop devices with a
// backing file), sorted by name. Rebuilt on every call.
std::vector<SysDisk> ListWholeDisks();
// Device path of disk index N of the current table.
int32_t DiskDevicePath(uint32_t index, std::filesystem::path& out);
// Partitions of one whole disk, ordered by start sector.
std::vector<SysPartition> ListPartitions(const std::string& diskName);
// The partition of disk `index` that starts at `startSector` (in the disk's
// 512-byte units), if any.
std::optional<SysPartition> FindPartitionAt(uint32_t index, uint64_t startSector);
// Reads a small sysfs attribute; empty when missing.
std::string ReadSysAttribute(const std::filesystem::path& file);

// Figures sysfs gives without opening the device (no root needed): the length
// in 512-byte units, the logical sector size (512 when sysfs does not say) and
// the model text of the drive (empty when none).
uint64_t DiskSize512(const std::string& diskName);
uint32_t DiskLogicalSectorSize(const std::string& diskName);
std::string DiskModel(const std::string& diskName);

// The block device `devnum` and every device its data lands on: the members
// of a mapped device (sysfs "slaves"), and for a loop device the device that
// holds its backing file; followed down, at most 64 devices.
std::vector<uint64_t> UnderlyingDevices(uint64_t devnum);

// True when the program runs with root's rights (then a refused device is
// refused by the system's policy, not for lack of rights).
bool RunningAsRoot();

// One entry of the partition table as libblkid reads it from the disk itself
// (the kernel need not have scanned the table).
struct TableEntry {
  uint32_t number = 0;
  uint64_t start = 0;     // 512-byte units
  uint64_t size = 0;      // 512-byte units
  uint8_t typeByte = 0;   // MBR partition type; 0 on GPT
  std::string typeGuid;   // GPT partition type GUID (lower case); empty on MBR
  bool extended = false;  // an MBR extended container, not a volume
};
// Reads the partition table of a disk or image. `tableType` is "dos", "gpt",
// ... or empty when the disk has no table (then `entries` is empty and the
// result is still 0). Fails with the open error when the disk cannot be read.
int32_t ReadPartitionTable(const std::filesystem::path& diskPath, std::string& tableType,
                           std::vector<TableEntry>& entries);

}  // namespace nuvarin::platform
