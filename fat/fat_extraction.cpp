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
  auto report = [&](int32_t percent, int32_t error) {
    return callback ? callback(context, percent, error) : 0;
  };
  const uint32_t capacityIn = bufferSize;
  bufferSize = 0;
  std::filesystem::path folder = platform::ScanLogRoot();
  std::filesystem::path target = PreviewDestination(item->Name(), folder);
  platform::FileHandle out = platform::kInvalidHandle;
  if (!target.empty()) {
    platform::CreateFolders(folder);
    std::error_code ec;
    std::filesystem::remove(target, ec);
    int32_t rc = platform::OpenReadWrite(target, out, true);
    if (rc != kOk) {
      report(100, rc);
      return rc;
    }
    outPath = target;
  } else if (buffer == nullptr) {
    return kErrInvalidParameter;
  }

  FatDataReader reader(device, fat, bytesPerSector, *item);
  int32_t result = reader.Validate();
  const uint64_t size = item->size;  // copied out of the packed record
  uint64_t total = target.empty() ? std::min<uint64_t>(size, capacityIn) : size;
  uint64_t done = 0;
  if (result == kOk && total == 0) {
    report(100, 0);
  } else if (result == kOk) {
    size_t capacity = PieceCapacity(item->clusterSize, kPreviewPieceBytes);
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[capacity]);
    if (!piece) result = kErrNotEnoughMemory;
    while (result == kOk && done < total) {
      size_t got = 0;
      result = reader.ReadNext(piece.get(), capacity, got);
      if (result != kOk) break;
      if (got == 0) {
        result = kErrReadFault;  // the file cannot be completed
        break;
      }
      size_t take = static_cast<size_t>(std::min<uint64_t>(got, total - done));
      if (out != platform::kInvalidHandle) {
        result = platform::WriteAll(out, piece.get(), take);
        if (result != kOk) break;
      } else {
        std::copy(piece.get(), piece.get() + take, buffer + done);
        bufferSize = static_cast<uint32_t>(done + take);
      }
      done += take;
      int32_t answer = report(static_cast<int32_t>(done * 100 / total), 0);
      if (answer != 0) {
        result = answer;
        break;
      }
    }
  }
  if (result > 0) report(100, result);
  if (out != platform::kInvalidHandle) {
    platform::Close(out);
    if (result != kOk) {
      std::error_code ec;
      std::filesystem::remove(target, ec);
    }
  }
  return result;
}

}  // namespace nuvarin
