#include "fat/volume_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "storage/byte_reader.h"

namespace nuvarin {

uint64_t VolumeSectorsOf(const SectorDevice& device, uint32_t bytesPerSector) {
  if (bytesPerSector == 0 || device.bytesPerSector == 0) return 0;
  uint64_t bytes;
  if (!CheckedMul<uint64_t>(device.sectorCount, device.bytesPerSector, bytes)) return 0;
  return bytes / bytesPerSector;
}

int32_t ReadVolumeSectors(const SectorDevice& device, uint32_t bytesPerSector, uint64_t sector, uint64_t count,
                          void* buffer, uint64_t& sectorsRead) {
  sectorsRead = 0;
  const uint32_t devBps = device.bytesPerSector;
  if (bytesPerSector == 0 || devBps == 0 || buffer == nullptr) return kErrInvalidParameter;
  if (count == 0) return kOk;
  uint64_t offset, length, end;
  if (!CheckedMul<uint64_t>(sector, bytesPerSector, offset) || !CheckedMul<uint64_t>(count, bytesPerSector, length) ||
      !CheckedAdd(offset, length, end))
    return kErrInvalidParameter;
  if (offset % devBps == 0 && length % devBps == 0) {
    uint64_t got = 0;
    int32_t rc = ReadSectors(length / devBps, device, buffer, offset / devBps, devBps, got);
    sectorsRead = got * devBps / bytesPerSector;
    return rc;
  }
  // Volume sectors smaller than the device's: read the covering device
  // sectors and copy the part asked for.
  uint64_t firstDev = offset / devBps;
  uint64_t lastDev = (end + devBps - 1) / devBps;
  std::vector<uint8_t> temp;
  try {
    temp.resize((lastDev - firstDev) * devBps);
  } catch (...) {
    return kErrNotEnoughMemory;
  }
  uint64_t got = 0;
  int32_t rc = ReadSectors(lastDev - firstDev, device, temp.data(), firstDev, devBps, got);
  uint64_t skip = offset - firstDev * devBps;
  uint64_t arrived = got * devBps > skip ? std::min<uint64_t>(got * devBps - skip, length) : 0;
  std::memcpy(buffer, temp.data() + skip, arrived);
  sectorsRead = arrived / bytesPerSector;
  return rc;
}

}  // namespace nuvarin
