// Locating a record's data on the volume: record numbers to sectors through the
// $MFT's runs, the runs of an attribute (through the attribute list when the
// attribute lives in other records), resident values and data sizes.
#pragma once
#include <cstdint>
#include <vector>

#include "ntfs/attribute_list.h"
#include "ntfs/boot_sector.h"
#include "ntfs/run_list.h"
#include "storage/byte_reader.h"
#include "storage/sector_device.h"

namespace nuvarin {

// What the look-ups read through. `mftRuns` maps extension records of
// attribute lists; without it the look-up maps them through the runs of the
// record it is reading (enough for the $MFT's own record 0).
struct NtfsVolume {
  const SectorDevice* device = nullptr;
  NtfsGeometry geometry;
  const std::vector<DataRun>* mftRuns = nullptr;
};

// Absolute sector of record `n` of the MFT stream described by `mftRuns`; a
// record beyond all runs (or in a run without clusters) maps to the volume's
// first sector, which then fails the record test.
uint64_t MapRecordToSector(const NtfsGeometry& geometry, const std::vector<DataRun>& mftRuns, uint64_t n);

// Reads the record at `lba` and appends the runs of its first attribute of
// `type` to `runs`. When the record has an attribute list, attributes of type
// 0x80 or 0xA0 split over several records are collected from every extent the
// list names, in list order. 0; -1 not a record; -100 no such non-resident
// attribute; or the read error.
int32_t FindAttributeRuns(const NtfsVolume& volume, uint64_t lba, uint32_t type, std::vector<DataRun>& runs);
// The same on a record already read and fixed up (kMftReadBytes or fewer bytes).
int32_t FindAttributeRunsInRecord(const NtfsVolume& volume, ByteReader record, uint32_t type,
                                  std::vector<DataRun>& runs);

// The value of the record's first data attribute when it is resident: the bytes
// from the value offset to the attribute's end. -101 when the data is not
// resident, there is no data attribute or the buffer is no record; 87 when the
// value is as long as a record or longer.
int32_t ReadResidentData(const NtfsVolume& volume, uint64_t lba, std::vector<uint8_t>& out);
int32_t ResidentDataInRecord(const NtfsGeometry& geometry, ByteReader record, std::vector<uint8_t>& out);

// Data size of the record's first data attribute. The read error, -1 not a
// record, 87 without a data attribute.
int32_t ReadDataSize(const NtfsVolume& volume, uint64_t lba, uint64_t& size);

// Reads, tests ("FILE") and fixes up the record at `lba` into `buffer`
// (resized to kMftReadBytes). 0, -1 not a record, or the read error.
int32_t LoadMftRecord(const NtfsVolume& volume, uint64_t lba, std::vector<uint8_t>& buffer);
// Entries of an attribute list attribute, resident or not.
int32_t ReadAttributeListEntries(const NtfsVolume& volume, const AttributeView& list,
                                 std::vector<AttributeListEntry>& entries);

// Runs of the $MFT's unnamed data attribute, from record 0 at mftStart.
int32_t LoadMftRuns(const SectorDevice& device, const NtfsGeometry& geometry, std::vector<DataRun>& runs);

}  // namespace nuvarin
