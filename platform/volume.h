// Volumes: mount points, flush, free space, file-system names, removable media.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace nuvarin::platform {

// Mount point of the block device with this device number, from
// /proc/self/mountinfo; empty when it is not mounted.
std::filesystem::path MountPointOf(uint64_t devnum);
// Flushes a mounted partition: syncfs on its mount point, then fsync of the
// device itself. Failures are ignored.
void FlushPartition(const std::filesystem::path& devicePath, uint64_t devnum);
// Free bytes of the file system that holds `path` (statvfs).
int32_t FreeBytesAt(const std::filesystem::path& path, uint64_t& bytes);
// File-system name by libblkid: "NTFS", "FAT32", "FAT", "exFAT", or libblkid's
// own name. Label is filled when present.
int32_t ProbeFileSystem(const std::filesystem::path& devicePath, std::string& name,
                        std::string* label = nullptr);
// Removable test of a whole disk: sysfs removable flag, a USB bus in its device
// path, or an SD/MMC card.
bool IsRemovableDiskName(const std::string& diskName);

}  // namespace nuvarin::platform
