#include "fat/boot_values.h"

#include <algorithm>

namespace nuvarin {
namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Volumes with fewer data clusters than this have 12-bit FAT entries.
constexpr uint32_t kFat12ClusterLimit = 4085;
constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF5;

}  // namespace

uint64_t FatGeometry::ClusterToSector(uint32_t cluster) const {
  if (cluster == 0 && !isFat32) return volumeStart + firstDataSector - rootDirSectors;
  return nuvarin::ClusterToSector(volumeStart, firstDataSector, sectorsPerCluster, cluster);
}

bool ParseFatGeometry(const ByteReader& boot, uint64_t volumeStart, uint64_t volumeSectors,
                      FatGeometry& g) {
  g = FatGeometry();
  g.volumeStart = volumeStart;
  g.bytesPerSector = boot.le16(11);
  g.sectorsPerCluster = boot.u8(13);
  g.reservedSectors = boot.le16(14);
  g.fatCount = boot.u8(16);
  g.rootEntryCount = boot.le16(17);
  g.isFat32 = boot.equals(82, "FAT32   ");
  g.sectorsPerFat = g.isFat32 ? boot.le32(36) : boot.le16(22);
  g.totalSectors = boot.le32(32) != 0 ? boot.le32(32) : boot.le16(19);
  g.rootCluster = g.isFat32 ? boot.le32(44) : 0;
  g.fatStartSector = volumeStart + g.reservedSectors;

  if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !IsPowerOfTwo(g.bytesPerSector)) return false;
  if (!IsPowerOfTwo(g.sectorsPerCluster) || g.sectorsPerCluster > 128) return false;
  if (g.reservedSectors == 0 || g.fatCount == 0 || g.sectorsPerFat == 0) return false;
  g.clusterBytes = g.sectorsPerCluster * g.bytesPerSector;

  if (!g.isFat32) {
    // The fixed root directory lies between the FATs and cluster 2; its size
    // comes from the root-entry count (224 entries on a floppy, 512 usually).
    uint32_t entries = g.rootEntryCount != 0 ? g.rootEntryCount : 512;
    g.rootDirSectors = (entries * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  }
  g.firstDataSector = g.reservedSectors + static_cast<uint64_t>(g.fatCount) * g.sectorsPerFat + g.rootDirSectors;
  uint64_t total = g.totalSectors;
  if (volumeSectors != 0) total = std::min(total, volumeSectors);
  if (total <= g.firstDataSector) return false;
  uint64_t clusters = (total - g.firstDataSector) / g.sectorsPerCluster;
  // The cluster count the boot sector gives decides between 12 and 16 bits.
  uint64_t declared = g.totalSectors > g.firstDataSector ? (g.totalSectors - g.firstDataSector) / g.sectorsPerCluster : 0;
  if (g.isFat32) {
    g.type = FatType::kFat32;
  } else {
    g.type = declared < kFat12ClusterLimit ? FatType::kFat12 : FatType::kFat16;
  }
  // No more clusters than the FAT has entries for (two entries are reserved).
  uint64_t fatBits = static_cast<uint64_t>(g.sectorsPerFat) * g.bytesPerSector * 8;
  uint64_t entryBits = g.type == FatType::kFat12 ? 12 : g.type == FatType::kFat16 ? 16 : 32;
  uint64_t fatEntries = fatBits / entryBits;
  if (fatEntries <= 2) return false;
  clusters = std::min<uint64_t>(clusters, fatEntries - 2);
  clusters = std::min<uint64_t>(clusters, g.type == FatType::kFat32 ? kFat32MaxClusters : 0xFFF5);
  if (clusters == 0) return false;
  g.clusterCount = static_cast<uint32_t>(clusters);
  if (g.isFat32 && !g.IsDataCluster(g.rootCluster)) return false;
  g.valid = true;
  return true;
}

}  // namespace nuvarin
