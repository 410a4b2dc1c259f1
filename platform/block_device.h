// Facts about an open block device or image file.
#pragma once
#include <cstdint>

#include "platform/file_io.h"

namespace nuvarin::platform {

// Logical sector size (BLKSSZGET); fails for regular files.
int32_t QueryLogicalSectorSize(FileHandle handle, uint32_t& bytesPerSector);
// Logical sector size, or 512 when the device does not tell.
uint32_t SectorSizeOr512(FileHandle handle);
// True when the handle refers to a block device.
bool IsBlockDevice(FileHandle handle);
// Device number (st_rdev of a block device).
int32_t DeviceNumberOf(FileHandle handle, uint64_t& devnum);

}  // namespace nuvarin::platform
