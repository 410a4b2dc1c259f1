#include "fat/fat_table.h"

#include <algorithm>
#include <new>

#include "fat/volume_io.h"
#include "platform/error_codes.h"

namespace nuvarin {

void FatTable::Attach(const SectorDevice* device, const FatGeometry& geometry) {
  Release();
  device_ = device;
  geometry_ = geometry;
  if (!geometry.valid || device == nullptr) return;
  fatSectors_ = geometry.sectorsPerFat;
  uint64_t fatBytes = fatSectors_ * geometry.bytesPerSector;
  switch (geometry.type) {
    case FatType::kFat12: entryLimit_ = fatBytes * 2 / 3; break;
    case FatType::kFat16: entryLimit_ = fatBytes / 2; break;
    case FatType::kFat32: entryLimit_ = fatBytes / 4; break;
  }
  window_.reset(new (std::nothrow) uint8_t[kWindowBytes]);
  if (window_) LoadWindow(0);
}

void FatTable::Release() {
  window_.reset();
  device_ = nullptr;
  geometry_ = FatGeometry();
  fatSectors_ = windowStart_ = windowValid_ = entryLimit_ = 0;
}

bool FatTable::LoadWindow(uint64_t firstFatSector) {
  const uint32_t bps = geometry_.bytesPerSector;
  if (firstFatSector >= fatSectors_) return false;
  uint64_t count = std::min<uint64_t>(kWindowBytes / bps, fatSectors_ - firstFatSector);
  // Clip to the source so that a small volume still gets its FAT.
  uint64_t sourceSectors = VolumeSectorsOf(*device_, bps);
  uint64_t start = geometry_.fatStartSector + firstFatSector;
  if (start >= sourceSectors) return false;
  count = std::min(count, sourceSectors - start);
  windowStart_ = firstFatSector * bps;
  windowValid_ = 0;
  uint64_t got = 0;
  ReadVolumeSectors(*device_, bps, start, count, window_.get(), got);
  windowValid_ = got * bps;
  return windowValid_ != 0;
}

int32_t FatTable::ReadFatEntry(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (!geometry_.valid) return kErrInvalidParameter;
  if (!window_) {
    value = cluster + 1;
    return kOk;
  }
  if (cluster >= entryLimit_) return kErrInvalidParameter;  // the FAT has no such entry
  uint64_t offset;
  size_t width;
  switch (geometry_.type) {
    case FatType::kFat12: offset = cluster + cluster / 2; width = 2; break;
    case FatType::kFat16: offset = static_cast<uint64_t>(cluster) * 2; width = 2; break;
    default: offset = static_cast<uint64_t>(cluster) * 4; width = 4; break;
  }
  if (offset + width > fatSectors_ * geometry_.bytesPerSector) return kErrInvalidParameter;
  if (offset < windowStart_ || offset + width > windowStart_ + windowValid_) {
    if (!LoadWindow(offset / geometry_.bytesPerSector) || offset + width > windowStart_ + windowValid_)
      return kErrReadFault;
  }
  ByteReader w(window_.get(), windowValid_);
  size_t at = static_cast<size_t>(offset - windowStart_);
  switch (geometry_.type) {
    case FatType::kFat12: {
      uint32_t pair = w.le16(at);
      value = (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
      break;
    }
    case FatType::kFat16: value = w.le16(at); break;
    default: value = w.le32(at) & 0x0FFFFFFF; break;
  }
  return kOk;
}

bool FatTable::IsEndOfChain(uint32_t value) const {
  switch (geometry_.type) {
    case FatType::kFat12: return value >= 0x0FF8;
    case FatType::kFat16: return value >= 0xFFF8;
    default: return value >= 0x0FFFFFF8;
  }
}

uint32_t FatTable::NextCluster(uint32_t cluster) {
  uint32_t value;
  if (ReadFatEntry(cluster, value) != kOk) return 0;
  if (value == 0) {
    uint32_t following;
    if (!geometry_.IsDataCluster(static_cast<uint64_t>(cluster) + 1)) return 0;
    if (ReadFatEntry(cluster + 1, following) != kOk || following != 0) return 0;
    return cluster + 1;
  }
  if (IsEndOfChain(value)) return 0;
  // Bad-cluster marks and numbers past the last cluster end the chain.
  if (!geometry_.IsDataCluster(value)) return 0;
  return value;
}

}  // namespace nuvarin
