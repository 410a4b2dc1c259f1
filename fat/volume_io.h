// Reads of a FAT volume in the volume's own sector size, whatever sector size
// the source device reports (a 4,096-byte-sector volume inside an image file).
#pragma once
#include <cstdint>

#include "storage/sector_device.h"

namespace nuvarin {

// Reads `count` volume sectors of `bytesPerSector` bytes from absolute volume
// sector `sector`. `sectorsRead` counts the whole volume sectors that arrived.
// 87 when the run lies past the end of the source, 30 on a failed read.
int32_t ReadVolumeSectors(const SectorDevice& device, uint32_t bytesPerSector, uint64_t sector, uint64_t count,
                          void* buffer, uint64_t& sectorsRead);

// Sectors of `bytesPerSector` bytes the source holds.
uint64_t VolumeSectorsOf(const SectorDevice& device, uint32_t bytesPerSector);

}  // namespace nuvarin
