#include "disks/area_resolver.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "disks/disk_map.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/volume.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 6 &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string Describe(const PartitionRecord& r, const DiskInfo* disk) {
  std::string where = disk ? disk->devicePath : "disk " + std::to_string(r.diskNumber);
  switch (r.kind) {
    case RecordKind::kGap:
      return "unallocated space " + std::to_string(r.letter) + " of " + where + " (sectors " +
             std::to_string(r.firstSector) + "-" + std::to_string(r.firstSector + r.sectorCount - 1) + ")";
    case RecordKind::kBlankDisk:
      return "disk " + std::to_string(r.letter) + " (" + where + ")";
    case RecordKind::kVolume:
      break;
  }
  std::string dev =
      r.devicePath.empty() ? where + " at sector " + std::to_string(r.firstSector) : r.devicePath;
  return "partition " + std::to_string(r.letter) + " (" + dev + ")";
}

void FromRecord(const PartitionRecord& r, ScanTarget& target) {
  target = ScanTarget{};
  target.driveLetter = r.letter;
  target.diskIndex = static_cast<uint32_t>(r.diskNumber);
  target.startSector = r.firstSector;
  target.sectorCount = r.sectorCount;
}

}  // namespace

bool ResolveBlockTarget(const std::string& text, ScanTarget& target, std::string& description,
                        std::string& error, fs::path* diskDevice) {
  error.clear();
  description.clear();
  if (diskDevice) diskDevice->clear();
  DiskMap map;
  if (AllDigits(text)) {
    const uint32_t number = static_cast<uint32_t>(std::stoul(text));
    if (!map.EnumerateDisks()) {
      error = "The list of disks cannot be read (is /sys mounted?)";
      return false;
    }
    std::vector<PartitionRecord> all;
    map.FlattenDisks(all);
    for (const auto& r : all) {
      if (r.letter != number) continue;
      FromRecord(r, target);
      const DiskInfo* disk = map.Disk(r.diskNumber);
      description = Describe(r, disk);
      if (diskDevice && disk) *diskDevice = disk->devicePath;
      return true;
    }
    error = "There is no entry " + text + " in the disk list; run \"nuvarin disks\" to see the numbers";
    return false;
  }

  std::error_code ec;
  fs::path path = fs::canonical(text, ec);
  if (ec) {
    if (text.rfind("/dev/", 0) == 0) error = "No such device: " + text;
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
    return false;  // not a device: an image, perhaps
  const uint64_t devnum = st.st_rdev;
  if (!map.EnumerateDisks()) {
    error = "The list of disks cannot be read (is /sys mounted?)";
    return false;
  }
  // A whole disk of the list, or one of its partitions? Numbers come from
  // this one enumeration, so they agree with each other.
  for (const DiskInfo& disk : map.Disks()) {
    const int32_t i = disk.diskNumber;
    auto it = map.Records().find(i);
    if (disk.devnum == devnum) {
      target = ScanTarget{};
      target.diskIndex = static_cast<uint32_t>(i);
      target.startSector = 0;
      target.sectorCount = disk.sizeBytes / disk.sectorSize;
      // A disk listed as one record (blank, or one file system on the whole
      // disk) takes that record's number.
      if (it != map.Records().end() && it->second.size() == 1 && it->second[0].firstSector == 0)
        target.driveLetter = it->second[0].letter;
      if (target.sectorCount == 0) {
        error = "The disk " + path.string() + " reports no size (no medium?)";
        return false;
      }
      description = "disk " + path.string();
      if (diskDevice) *diskDevice = disk.devicePath;
      return true;
    }
    for (const auto& p : platform::ListPartitions(disk.name)) {
      if (p.devnum != devnum) continue;
      const uint64_t first = p.start * 512 / disk.sectorSize;
      if (it != map.Records().end()) {
        for (const auto& r : it->second) {
          if (r.kind == RecordKind::kVolume && r.firstSector == first) {
            FromRecord(r, target);
            description = Describe(r, &disk);
            if (diskDevice) *diskDevice = disk.devicePath;
            return true;
          }
        }
      }
      error = path.string() + " is not a partition of the disk list (an extended partition?)";
      return false;
    }
  }
  error =
      path.string() + " is not a disk or partition that can be scanned (CD-ROM, RAM disk or mapped device)";
  return false;
}

bool DestinationOnScannedArea(const ScanTarget& target, const fs::path& destination) {
  if (target.IsImage()) return false;
  uint64_t devnum = 0;
  if (platform::DeviceOfPath(destination, devnum) != kOk || devnum == 0) return false;
  auto disks = platform::ListWholeDisks();
  if (target.diskIndex >= disks.size()) return false;
  const auto& disk = disks[target.diskIndex];
  const uint64_t sectorSize = platform::DiskLogicalSectorSize(disk.name);
  const uint64_t areaStart = target.startSector;
  uint64_t areaEnd = target.startSector + target.sectorCount;
  if (areaEnd < areaStart || target.sectorCount == 0) areaEnd = UINT64_MAX;
  const auto partitions = platform::ListPartitions(disk.name);
  // The destination's file system may sit on a mapped device or on a loop
  // device whose backing file lies on the area: what counts is where the
  // bytes land.
  for (uint64_t dev : platform::UnderlyingDevices(devnum)) {
    // A file system on the whole disk lies on every area of it.
    if (dev == disk.devnum) return true;
    for (const auto& p : partitions) {
      if (p.devnum != dev) continue;
      const uint64_t first = p.start * 512 / sectorSize;
      const uint64_t end = first + p.size * 512 / sectorSize;
      if (first < areaEnd && areaStart < end) return true;
    }
  }
  return false;
}

}  // namespace nuvarin
