#include "ntfs/mft_record.h"

#include <algorithm>
#include <cstring>

#include "platform/error_codes.h"

namespace nuvarin {

int32_t ReadMftRecord(const SectorDevice& device, const NtfsGeometry& geometry, uint64_t lba, uint8_t* buffer) {
  std::memset(buffer, 0, kMftReadBytes);
  uint32_t bps = geometry.bytesPerSector;
  if (bps == 0 || bps > kMftReadBytes) return kErrInvalidParameter;
  uint64_t count = kMftReadBytes / bps;
  if (lba >= device.sectorCount) return kErrInvalidParameter;
  // The record itself must exist; only the padding beyond it may be missing.
  uint64_t available = device.sectorCount - lba;
  if (available < geometry.sectorsPerRecord) return kErrInvalidParameter;
  count = std::min(count, available);
  uint64_t got = 0;
  int32_t rc = ReadSectors(count, device, buffer, lba, bps, got);
  if (rc != kOk) return rc;
  if (got == 0) return kErrNoAttribute;
  return kOk;
}

void ApplyFixups(uint8_t* record, size_t size, const NtfsGeometry& geometry) {
  ByteReader r(record, size);
  for (uint32_t i = 0; i < geometry.sectorsPerRecord; ++i) {
    size_t target = static_cast<size_t>(geometry.bytesPerSector) * (i + 1) - 2;
    size_t source = MftRecordHeader::kUpdateSequenceArray + 2 * static_cast<size_t>(i);
    if (!r.has(target, 2) || !r.has(source, 2)) return;
    std::memmove(record + target, record + source, 2);
  }
}

}  // namespace nuvarin
