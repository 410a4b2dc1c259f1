// Volumes: mount points, flush, free space, file-system names, removable media.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace nuvarin::platform {

// Tests read a mount table of their own; an empty path restores
// /proc/self/mountinfo.
void SetMountInfoPath(const std::filesystem::path& path);

// Mount point of the block device with this device number, from
// /proc/self/mountinfo; empty when it is not mounted.
std::filesystem::path MountPointOf(uint64_t devnum);
// Flushes a mounted partition: syncfs on its mount point, then fsync of the
// device itself. Failures are ignored.
void FlushPartition(const std::filesystem::path& devicePath, uint64_t devnum);
// Free bytes of the file system that holds `path` (statvfs).
int32_t FreeBytesAt(const std::filesystem::path& path, uint64_t& bytes);
// Size and free bytes of a mounted file system (statvfs on its mount point):
// every free block counts, also those kept for the superuser.
int32_t VolumeSpace(const std::filesystem::path& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes);
// File-system name by libblkid: "NTFS", "FAT32", "FAT", "exFAT", or libblkid's
// own name. Label is filled when present.
int32_t ProbeFileSystem(const std::filesystem::path& devicePath, std::string& name,
                        std::string* label = nullptr);
// The same probe on a byte range of a disk or image (a partition the kernel
// has no device node for, or a file system on a whole disk).
int32_t ProbeFileSystemAt(const std::filesystem::path& devicePath, uint64_t offsetBytes, uint64_t sizeBytes,
                          std::string& name, std::string* label = nullptr);
// Name of the file system that holds `path` (a destination folder or file;
// the nearest existing parent counts): "FAT32", "FAT", "exFAT", "NTFS" for
// those, otherwise the mount table's type ("ext4", "tmpfs", ...).
int32_t FileSystemOfPath(const std::filesystem::path& path, std::string& name);
// Device number of the file system holding `path` (its nearest existing
// parent when it does not exist yet).
int32_t DeviceOfPath(const std::filesystem::path& path, uint64_t& devnum);
// Removable test of a whole disk: sysfs removable flag, a USB bus in its device
// path, or an SD/MMC card.
bool IsRemovableDiskName(const std::string& diskName);

}  // namespace nuvarin::platform
