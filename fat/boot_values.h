// The boot-sector values of a FAT12/16/32 volume and the layout derived from
// them: where the FATs, the fixed root directory and the data clusters lie.
#pragma once
#include <cstdint>

#include "storage/byte_reader.h"

namespace nuvarin {

enum class FatType : uint8_t { kFat12, kFat16, kFat32 };

struct FatGeometry {
  bool valid = false;
  FatType type = FatType::kFat16;
  bool isFat32 = false;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatCount = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t rootEntryCount = 0;   // FAT12/16 fixed root directory
  uint32_t rootDirSectors = 0;   // sectors of that root directory (0 on FAT32)
  uint64_t totalSectors = 0;     // 32-bit field, or the 16-bit one when that is 0
  uint64_t firstDataSector = 0;  // first sector of cluster 2, relative to the volume
  uint32_t rootCluster = 0;      // FAT32 root directory cluster; 0 for the fixed root
  uint64_t volumeStart = 0;      // absolute sector of the boot sector
  uint64_t fatStartSector = 0;   // absolute sector of the first FAT
  uint32_t clusterBytes = 0;
  uint32_t clusterCount = 0;     // data clusters: numbers 2 .. clusterCount + 1

  uint32_t MaxCluster() const { return clusterCount + 1; }
  bool IsDataCluster(uint64_t cluster) const { return cluster >= 2 && cluster <= MaxCluster(); }
  // Absolute first sector of `cluster`. Cluster 0 on FAT12/16 is the fixed
  // root directory. Callers check the cluster number first.
  uint64_t ClusterToSector(uint32_t cluster) const;
};

// First sector of `cluster` for a record that carries its own volume start and
// data start (relative) and sectors per cluster.
inline uint64_t ClusterToSector(uint64_t volumeStart, uint64_t dataStart, uint32_t sectorsPerCluster,
                                uint32_t cluster) {
  return volumeStart + dataStart + static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
}

// Reads the layout from the first sector of a volume at `volumeStart`.
// `volumeSectors` (in the boot sector's sector size; 0 = unknown) limits the
// cluster count to what the area can hold. Returns geometry.valid.
bool ParseFatGeometry(const ByteReader& boot, uint64_t volumeStart, uint64_t volumeSectors,
                      FatGeometry& out);

}  // namespace nuvarin
