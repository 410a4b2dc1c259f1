// The file allocation table, read through one 16 MiB window: 12-, 16- and
// 32-bit entries, and the next-cluster rule that also walks cleared chains.
#pragma once
#include <cstdint>
#include <memory>

#include "fat/boot_values.h"
#include "storage/sector_device.h"

namespace nuvarin {

class FatTable {
 public:
  static constexpr size_t kWindowBytes = 16u * 1024 * 1024;

  FatTable() = default;
  FatTable(const FatTable&) = delete;
  FatTable& operator=(const FatTable&) = delete;

  // Binds the table to the first FAT of `geometry` on `device` and reads the
  // first window, clipped to the FAT and to the end of the source. Without
  // the window (no memory) chains are taken to be contiguous.
  void Attach(const SectorDevice* device, const FatGeometry& geometry);
  void Release();

  // The entry of `cluster` (FAT32 entries without their 4 reserved bits).
  // 87 for a cluster the FAT has no entry for; 30 when the FAT cannot be read.
  int32_t ReadFatEntry(uint32_t cluster, uint32_t& value);

  // True for an entry that marks the end of a chain.
  bool IsEndOfChain(uint32_t value) const;
  // True when the entry of `cluster` reads as 0.
  bool IsFree(uint32_t cluster) {
    uint32_t v;
    return ReadFatEntry(cluster, v) == 0 && v == 0;
  }

  // Next cluster of a chain, or 0 when the chain ends. A free entry (a
  // deleted file's cleared chain) continues into cluster + 1 when that is free
  // too. Numbers outside the volume's clusters end the chain.
  uint32_t NextCluster(uint32_t cluster);

  const FatGeometry& Geometry() const { return geometry_; }

 private:
  bool LoadWindow(uint64_t firstFatSector);

  const SectorDevice* device_ = nullptr;
  FatGeometry geometry_;
  std::unique_ptr<uint8_t[]> window_;
  uint64_t fatSectors_ = 0;       // sectors of one FAT
  uint64_t windowStart_ = 0;      // first window byte, as an offset into the FAT
  uint64_t windowValid_ = 0;      // bytes of the window that hold FAT data
  uint64_t entryLimit_ = 0;       // clusters the FAT has entries for
};

}  // namespace nuvarin
