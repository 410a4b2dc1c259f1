#include "storage/sector_device.h"

#include <algorithm>

#include "platform/block_device.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/volume.h"

namespace nuvarin {

SectorDevice& SectorDevice::operator=(SectorDevice&& other) noexcept {
  if (this != &other) {
    Close();
    handle = other.handle;
    sectorCount = other.sectorCount;
    bytesPerSector = other.bytesPerSector;
    other.handle = platform::kInvalidHandle;
    other.sectorCount = 0;
  }
  return *this;
}

void SectorDevice::Close() {
  platform::Close(handle);
  sectorCount = 0;
}

int32_t OpenBlockDevice(const std::filesystem::path& path, SectorDevice& device) {
  device.Close();
  platform::FileHandle h;
  int32_t rc = platform::OpenReadOnly(path, h);
  if (rc != kOk) return rc;
  device.handle = h;
  device.bytesPerSector = platform::SectorSizeOr512(h);
  uint64_t length = 0;
  if (platform::SizeOf(h, length) == kOk) device.sectorCount = length / device.bytesPerSector;
  return kOk;
}

int32_t OpenPhysicalDrive(uint32_t diskIndex, SectorDevice& device) {
  device.Close();
  std::filesystem::path path;
  int32_t rc = platform::DiskDevicePath(diskIndex, path);
  if (rc != kOk) return rc;
  return OpenBlockDevice(path, device);
}

int32_t OpenImageFile(const std::filesystem::path& path, SectorDevice& device) {
  device.Close();
  platform::FileHandle h;
  int32_t rc = platform::OpenReadOnly(path, h);
  if (rc != kOk) return rc;
  uint64_t size = 0;
  rc = platform::SizeOf(h, size);
  if (rc != kOk) {
    platform::Close(h);
    return rc;
  }
  device.handle = h;
  device.bytesPerSector = 512;
  device.sectorCount = size / 512;
  return kOk;
}

int32_t ReadSectors(uint64_t count, const SectorDevice& device, void* buffer, uint64_t startSector,
                    uint32_t bytesPerSector, uint64_t& sectorsRead) {
  sectorsRead = 0;
  uint64_t end;
  if (__builtin_add_overflow(startSector, count, &end) || end > device.sectorCount)
    return kErrInvalidParameter;
  if (bytesPerSector == 0) return kErrInvalidParameter;
  uint64_t offset, total;
  if (__builtin_mul_overflow(startSector, static_cast<uint64_t>(bytesPerSector), &offset) ||
      __builtin_mul_overflow(count, static_cast<uint64_t>(bytesPerSector), &total))
    return kErrInvalidParameter;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  size_t piece = kReadPieceBytes;
  int32_t result = kOk;
  while (done < total) {
    piece = static_cast<size_t>(std::min<uint64_t>(piece, total - done));
    size_t got = 0;
    int32_t rc = platform::ReadAt(device.handle, out + done, piece, offset + done, got);
    if (rc != kOk || got == 0) {
      result = kErrReadFault;
      break;
    }
    done += got;
  }
  sectorsRead = done / bytesPerSector;
  return result;
}

int32_t ReadBytes(uint64_t byteCount, platform::FileHandle handle, void* buffer, uint64_t& bytesRead) {
  bytesRead = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t piece = kReadPieceBytes;
  while (bytesRead < byteCount) {
    piece = static_cast<size_t>(std::min<uint64_t>(piece, byteCount - bytesRead));
    size_t got = 0;
    int32_t rc = platform::Read(handle, out + bytesRead, piece, got);
    if (rc != kOk || got == 0) return kErrReadFault;
    bytesRead += got;
  }
  return kOk;
}

void FlushVolume(uint32_t diskIndex, uint64_t startSector) {
  auto part = platform::FindPartitionAt(diskIndex, startSector);
  if (!part) return;
  platform::FlushPartition(part->devicePath, part->devnum);
}

int32_t GetImageFileSize(const std::filesystem::path& path, uint64_t& bytes) {
  bytes = 0;
  platform::FileHandle h;
  int32_t rc = platform::OpenReadOnly(path, h);
  if (rc != kOk) return rc;
  rc = platform::SizeOf(h, bytes);
  platform::Close(h);
  return rc;
}

int32_t GetDiskLength(uint32_t diskIndex, uint64_t& bytes) {
  bytes = 0;
  std::filesystem::path path;
  int32_t rc = platform::DiskDevicePath(diskIndex, path);
  if (rc != kOk) return rc;
  return GetImageFileSize(path, bytes);
}

bool IsRemovableDisk(uint32_t diskIndex) {
  auto disks = platform::ListWholeDisks();
  if (diskIndex >= disks.size()) return false;
  return platform::IsRemovableDiskName(disks[diskIndex].name);
}

int32_t GetFreeSpace(uint32_t diskIndex, uint64_t startSector, uint64_t& bytes) {
  bytes = 0;
  auto part = platform::FindPartitionAt(diskIndex, startSector);
  if (!part) return kErrFileNotFound;
  auto mount = platform::MountPointOf(part->devnum);
  if (mount.empty()) return kErrFileNotFound;
  return platform::FreeBytesAt(mount, bytes);
}

int32_t GetFreeSpaceOfPath(const std::filesystem::path& path, uint64_t& bytes) {
  return platform::FreeBytesAt(path, bytes);
}

int32_t GetFileSystemName(uint32_t diskIndex, uint64_t startSector, std::string& name) {
  name.clear();
  auto part = platform::FindPartitionAt(diskIndex, startSector);
  if (!part) return kErrFileNotFound;
  return platform::ProbeFileSystem(part->devicePath, name);
}

}  // namespace nuvarin
