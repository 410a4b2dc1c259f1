#include "fat/fat_extraction.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "fat/volume_io.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "storage/file_type_groups.h"
#include "storage/preview_output.h"
#include "storage/recovered_output.h"

namespace nuvarin {
namespace {

constexpr size_t kRecoverPieceBytes = 1024 * 1024;
constexpr size_t kPreviewPieceBytes = 65536;

size_t PieceCapacity(uint32_t clusterBytes, size_t preferred) {
  size_t clusters = std::max<size_t>(1, preferred / clusterBytes);
  return clusters * clusterBytes;
}

}  // namespace

FatDataReader::FatDataReader(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector,
                             const FoundItem& item)
    : device_(device),
      fat_(fat),
      bytesPerSector_(bytesPerSector),
      item_(item),
      remaining_(item.size),
      current_(item.objectId),
      searchBudget_(static_cast<uint64_t>(fat.Geometry().clusterCount) + 1) {}

int32_t FatDataReader::Validate() const {
  if (item_.clusterSize > kMaxRecoverClusterBytes) return kErrWriteFault;
  if (item_.clusterSize == 0 || bytesPerSector_ == 0 || item_.clusterSize % bytesPerSector_ != 0)
    return kErrInvalidParameter;
  if (item_.size != 0 && !fat_.Geometry().IsDataCluster(item_.objectId)) return kErrInvalidParameter;
  return kOk;
}

uint32_t FatDataReader::FollowData(uint32_t cluster) {
  uint32_t value;
  if (fat_.ReadFatEntry(cluster, value) != kOk) return 0;
  if (value == 0) {
    // The deletion cleared the chain: the data goes on in the next cluster no
    // other file holds.
    const FatGeometry& g = fat_.Geometry();
    for (uint64_t c = static_cast<uint64_t>(cluster) + 1; c <= g.MaxCluster() && searchBudget_ > 0; ++c) {
      --searchBudget_;
      uint32_t entry;
      if (fat_.ReadFatEntry(static_cast<uint32_t>(c), entry) != kOk) return 0;
      if (entry == 0) return static_cast<uint32_t>(c);
    }
    return 0;
  }
  if (fat_.IsEndOfChain(value) || !fat_.Geometry().IsDataCluster(value) || value == cluster) return 0;
  return value;
}

int32_t FatDataReader::ReadNext(uint8_t* buffer, size_t capacity, size_t& got) {
  got = 0;
  const uint32_t clusterBytes = item_.clusterSize;
  if (remaining_ == 0 || current_ == 0 || capacity < clusterBytes) return kOk;
  const uint32_t spc = clusterBytes / bytesPerSector_;
  // Gather the run of consecutive clusters that starts at current_.
  uint32_t first = current_;
  uint64_t runClusters = 0;
  uint64_t runBytes = 0;
  uint32_t cluster = current_;
  uint32_t next = 0;
  while (true) {
    ++runClusters;
    runBytes += clusterBytes;
    next = runBytes >= remaining_ ? 0 : FollowData(cluster);
    if (next == 0 || next != cluster + 1 || runBytes + clusterBytes > capacity) break;
    cluster = next;
  }
  current_ = next;
  uint64_t sector = ClusterToSector(item_.volumeStartSector, item_.dataStartSector, spc, first);
  uint64_t sectorsRead = 0;
  int32_t rc = ReadVolumeSectors(device_, bytesPerSector_, sector, runClusters * spc, buffer, sectorsRead);
  if (rc != kOk) {
    current_ = 0;
    return sectorsRead == 0 && rc != kErrInvalidParameter ? kErrReadFault : rc;
  }
  got = static_cast<size_t>(std::min<uint64_t>(runBytes, remaining_));
  remaining_ -= got;
  return kOk;
}

int32_t RecoverFatFileData(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector,
                           const FoundItem& item, const std::filesystem::path& path, FileCallback callback,
                           void* context) {
  RecoveredFileWriter writer(callback, context, path, item.size);
  int32_t rc = writer.Open();
  if (rc != kOk) return rc;
  FatDataReader reader(device, fat, bytesPerSector, item);
  rc = reader.Validate();
  if (rc != kOk) return writer.Fail(rc);
  if (item.size == 0) return writer.Finish();
  size_t capacity = PieceCapacity(item.clusterSize, kRecoverPieceBytes);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
  if (!buffer) return writer.Fail(kErrNotEnoughMemory);
  while (reader.Remaining() > 0) {
    size_t got = 0;
    rc = reader.ReadNext(buffer.get(), capacity, got);
    if (rc != kOk) return writer.Fail(rc);
    if (got == 0) break;  // no cluster left to take the rest from
    rc = writer.Write(buffer.get(), got);
    if (rc != kOk) return rc;
  }
  return writer.Finish(kErrReadFault);
}

int32_t PreviewFatItem(const SectorDevice& device, FatTable& fat, uint32_t bytesPerSector, const FoundItem* item,
                       std::filesystem::path& outPath, uint8_t* buffer, uint32_t& bufferSize,
                       ShortCallback callback, void* context) {
  if (item == nullptr) return kErrInvalidParameter;
  PreviewWriter writer(item->Name(), item->size, buffer, bufferSize, callback, context);
  int32_t result = writer.Open(outPath);
  if (result != kOk) return result;
  FatDataReader reader(device, fat, bytesPerSector, *item);
  result = reader.Validate();
  if (result == kOk && !writer.Complete()) {
    size_t capacity = PieceCapacity(item->clusterSize, kPreviewPieceBytes);
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[capacity]);
    if (!piece) result = kErrNotEnoughMemory;
    while (result == kOk && !writer.Complete()) {
      size_t got = 0;
      result = reader.ReadNext(piece.get(), capacity, got);
      if (result != kOk) break;
      if (got == 0) {
        result = kErrReadFault;  // the file cannot be completed
        break;
      }
      result = writer.Write(piece.get(), got);
    }
  }
  return writer.Finish(result, outPath);
}

}  // namespace nuvarin
