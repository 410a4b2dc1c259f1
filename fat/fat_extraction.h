// Reading the data of a FAT file record back from the volume, for recovery
// and for preview. A deleted file's chain is cleared, so its data is taken
// from the clusters that follow its first one, passing over clusters that
// another file holds, until the file's size is reached.
#pragma once
#include <cstdint>
#include <filesystem>

#include "fat/fat_table.h"
#include "storage/found_item.h"
#include "storage/recovery_engine.h"
#include "storage/sector_device.h"

namespace nuvarin {

// Cluster sizes above this are not believed (a damaged record).
constexpr uint32_t kMaxRecoverClusterBytes = 104857600;

class FatDataReader {
 public:
  FatDataReader(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector, const FoundItem& item);

  // 29 for an absurd cluster size, 87 for a record whose first cluster or
  // cluster size does not fit the volume; 0 otherwise.
  int32_t Validate() const;
  // Reads the next run of contiguous clusters, at most `capacity` bytes (a
  // multiple of the cluster size, at least one cluster) and never more than
  // the bytes of the file still due. `got` = 0 with result 0: the chain ended
  // before the size was reached.
  int32_t ReadNext(uint8_t* buffer, size_t capacity, size_t& got);
  uint64_t Remaining() const { return remaining_; }
  uint32_t ClusterBytes() const { return item_.clusterSize; }

 private:
  uint32_t FollowData(uint32_t cluster);

  const SectorDevice& device_;
  FatTable& fat_;
  uint32_t bytesPerSector_;
  const FoundItem& item_;
  uint64_t remaining_;
  uint32_t current_;         // next cluster to read; 0 when the chain is exhausted
  uint64_t searchBudget_;    // free-cluster search steps left for this file
};

// The file part of RecoverOne: writes the item's data to `path` and reports
// through the file callback; an incomplete file is reported with error 30.
int32_t RecoverFatFileData(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector,
                           const FoundItem& item, const std::filesystem::path& path, FileCallback callback,
                           void* context);

// PreviewItem of a FAT record: to the scan-log folder by the item's group, or
// into `buffer`.
int32_t PreviewFatItem(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector, const FoundItem* item,
                       std::filesystem::path& outPath, uint8_t* buffer, uint32_t& bufferSize,
                       ShortCallback callback, void* context);

}  // namespace nuvarin
