// Sector devices: a whole disk or an image file, opened read-only, read by
// absolute sector number in pieces of at most 64 KiB.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_io.h"

namespace nuvarin {

constexpr size_t kReadPieceBytes = 65536;

struct SectorDevice {
  platform::FileHandle handle = platform::kInvalidHandle;
  uint64_t sectorCount = 0;  // addressable sectors of the whole source
  uint32_t bytesPerSector = 512;  // logical sector size of the source (512 for images)

  SectorDevice() = default;
  SectorDevice(const SectorDevice&) = delete;
  SectorDevice& operator=(const SectorDevice&) = delete;
  SectorDevice(SectorDevice&& other) noexcept { *this = std::move(other); }
  SectorDevice& operator=(SectorDevice&& other) noexcept;
  ~SectorDevice() { Close(); }

  bool IsOpen() const { return handle != platform::kInvalidHandle; }
  void Close();
};

// Opens disk `diskIndex` of the disk table. sectorCount = length / sector size.
int32_t OpenPhysicalDrive(uint32_t diskIndex, SectorDevice& device);
// Opens a block device by path (a partition or whole disk given by name).
int32_t OpenBlockDevice(const std::filesystem::path& path, SectorDevice& device);
// Opens an image file; sectorCount = size / 512, a shorter tail is not addressable.
int32_t OpenImageFile(const std::filesystem::path& path, SectorDevice& device);

// Reads `count` sectors from `startSector`. 87 (nothing read) when the run
// ends past sectorCount; 30 when a read fails or returns nothing, with the
// whole sectors that arrived counted in sectorsRead.
int32_t ReadSectors(uint64_t count, const SectorDevice& device, void* buffer, uint64_t startSector,
                    uint32_t bytesPerSector, uint64_t& sectorsRead);
// Reads `byteCount` bytes from the handle's position in 64 KiB pieces.
int32_t ReadBytes(uint64_t byteCount, platform::FileHandle handle, void* buffer, uint64_t& bytesRead);

// Flushes what the system caches for the partition of disk `diskIndex` that
// starts at `startSector`, so that raw reads see it. Failures are ignored.
void FlushVolume(uint32_t diskIndex, uint64_t startSector);

// One-shot device queries.
int32_t GetImageFileSize(const std::filesystem::path& path, uint64_t& bytes);
int32_t GetDiskLength(uint32_t diskIndex, uint64_t& bytes);
bool IsRemovableDisk(uint32_t diskIndex);
// Free bytes of the mounted partition of disk `diskIndex` at `startSector`;
// an unmounted volume gives 2.
int32_t GetFreeSpace(uint32_t diskIndex, uint64_t startSector, uint64_t& bytes);
// Free bytes of the file system that holds `path` (a destination folder).
int32_t GetFreeSpaceOfPath(const std::filesystem::path& path, uint64_t& bytes);
// File-system name ("NTFS", "FAT32", ...) of that partition.
int32_t GetFileSystemName(uint32_t diskIndex, uint64_t startSector, std::string& name);

}  // namespace nuvarin
