#include "ntfs/data_location.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/mft_record.h"
#include "platform/error_codes.h"

namespace nuvarin {

uint64_t MapRecordToSector(const NtfsGeometry& g, const std::vector<DataRun>& mftRuns, uint64_t n) {
  uint64_t target;
  if (!CheckedMul<uint64_t>(n, g.sectorsPerRecord, target)) return g.volumeStart;
  uint64_t acc = 0;
  int64_t lcn = 0;
  for (const DataRun& run : mftRuns) {
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) return g.volumeStart;
    uint64_t len;
    if (!CheckedMul<uint64_t>(run.clusterCount, g.sectorsPerCluster, len)) return g.volumeStart;
    if (target >= acc && target - acc < len) {
      if (run.sparse || lcn < 0) return g.volumeStart;
      uint64_t start, sector;
      if (!CheckedMul<uint64_t>(static_cast<uint64_t>(lcn), g.sectorsPerCluster, start) ||
          !CheckedAdd(start, target - acc, sector) || !CheckedAdd(sector, g.volumeStart, sector))
        return g.volumeStart;
      return sector;
    }
    if (!CheckedAdd(acc, len, acc)) return g.volumeStart;
  }
  return g.volumeStart;
}

namespace {

using Buffer = std::vector<uint8_t>;

// Reads, tests and fixes up one record into `buffer` (kMftReadBytes).
int32_t LoadRecord(const NtfsVolume& v, uint64_t lba, Buffer& buffer) {
  buffer.resize(kMftReadBytes);
  int32_t rc = ReadMftRecord(*v.device, v.geometry, lba, buffer.data());
  if (rc != kOk) return rc;
  if (!MftRecordHeader::IsRecord(ByteReader(buffer.data(), buffer.size()))) return kErrNotMftRecord;
  ApplyFixups(buffer.data(), buffer.size(), v.geometry);
  return kOk;
}

bool AppendRuns(const AttributeView& a, std::vector<DataRun>& runs) {
  if (!a.NonResident()) return false;
  DecodeRunList(a, runs);
  return true;
}

// Clusters of a run list read back to back (the bytes of a non-resident list).
Buffer ReadRunBytes(const NtfsVolume& v, const std::vector<DataRun>& runs, uint64_t limit, int32_t& rc) {
  Buffer bytes;
  rc = kOk;
  const NtfsGeometry& g = v.geometry;
  int64_t lcn = 0;
  for (const DataRun& run : runs) {
    if (bytes.size() >= limit) break;
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) break;
    uint64_t sectors, start;
    if (!CheckedMul<uint64_t>(run.clusterCount, g.sectorsPerCluster, sectors)) break;
    uint64_t want = std::min<uint64_t>(sectors, (limit - bytes.size() + g.bytesPerSector - 1) / g.bytesPerSector);
    size_t at = bytes.size();
    bytes.resize(at + want * g.bytesPerSector, 0);
    if (run.sparse) continue;
    if (lcn < 0 || !CheckedMul<uint64_t>(static_cast<uint64_t>(lcn), g.sectorsPerCluster, start) ||
        !CheckedAdd(start, g.volumeStart, start)) {
      rc = kErrInvalidParameter;
      break;
    }
    uint64_t got = 0;
    rc = ReadSectors(want, *v.device, bytes.data() + at, start, g.bytesPerSector, got);
    if (rc != kOk) break;
  }
  if (bytes.size() > limit) bytes.resize(limit);
  return bytes;
}

// The attribute of `type` in an extension record that starts at `vcn`; the
// first of the type when none matches the VCN.
bool FindExtent(ByteReader record, uint32_t type, uint64_t vcn, AttributeView& out) {
  AttributeWalk walk(record, WalkRule::RunLookup());
  AttributeView a;
  bool haveFirst = false;
  while (walk.Next(a)) {
    if (a.type != type) continue;
    if (a.NonResident() && a.LowestVcn() == vcn) {
      out = a;
      return true;
    }
    if (!haveFirst) {
      out = a;
      haveFirst = true;
    }
  }
  return haveFirst;
}

}  // namespace

int32_t FindAttributeRunsInRecord(const NtfsVolume& v, ByteReader record, uint32_t type,
                                  std::vector<DataRun>& runs) {
  AttributeWalk walk(record, WalkRule::RunLookup());
  AttributeView a, list, found;
  bool haveList = false, haveFound = false;
  while (walk.Next(a)) {
    if (a.type == kAttrAttributeList && !haveList) {
      list = a;
      haveList = true;
    }
    if (a.type == type) {
      found = a;
      haveFound = true;
      break;
    }
  }
  // The walk stops at the wanted attribute; a list that sorts before it was met already.
  std::vector<DataRun> baseRuns;
  if (haveFound && !AppendRuns(found, baseRuns)) return kErrNoAttribute;
  if (!haveList || (type != kAttrData && type != kAttrIndexAllocation)) {
    if (!haveFound) return kErrNoAttribute;
    runs.insert(runs.end(), baseRuns.begin(), baseRuns.end());
    return kOk;
  }

  std::vector<AttributeListEntry> all;
  int32_t rc = ReadAttributeListEntries(v, list, all);
  if (rc != kOk) return rc;
  std::vector<AttributeListEntry> entries;
  for (const AttributeListEntry& e : all) {
    // The unnamed stream for data; the one index ($I30) for folders.
    if (e.type == type && (type != kAttrData || e.nameLength == 0)) entries.push_back(e);
  }
  if (entries.empty() || (haveFound && entries.size() == 1)) {
    if (!haveFound) return kErrNoAttribute;
    runs.insert(runs.end(), baseRuns.begin(), baseRuns.end());
    return kOk;
  }

  const std::vector<DataRun>* map = v.mftRuns ? v.mftRuns : (haveFound ? &baseRuns : nullptr);
  if (!map) return kErrNoAttribute;
  const uint64_t self = MftRecordHeader::RecordNumber(record);
  std::vector<DataRun> collected;
  int64_t lcn = 0;  // running cluster number at the end of `collected`
  Buffer extension;
  uint64_t loaded = UINT64_MAX;
  for (const AttributeListEntry& e : entries) {
    ByteReader holder = record;
    if (e.recordNumber != self) {
      if (e.recordNumber != loaded) {
        rc = LoadRecord(v, MapRecordToSector(v.geometry, *map, e.recordNumber), extension);
        if (rc != kOk) return rc;
        loaded = e.recordNumber;
      }
      holder = ByteReader(extension.data(), extension.size());
    }
    AttributeView extent;
    if (!FindExtent(holder, type, e.startVcn, extent)) continue;
    if (collected.size() >= kMaxRunsPerStream) break;
    // Each extent's run list starts from cluster 0: its first offset is
    // absolute. Rebase it on the clusters collected so far.
    std::vector<DataRun> part;
    if (!AppendRuns(extent, part)) continue;
    for (DataRun& run : part) {
      if (run.sparse) continue;
      run.lcnDelta -= lcn;
      break;
    }
    for (const DataRun& run : part) lcn += run.lcnDelta;
    collected.insert(collected.end(), part.begin(), part.end());
  }
  if (collected.empty()) return kErrNoAttribute;
  runs.insert(runs.end(), collected.begin(), collected.end());
  return kOk;
}

int32_t LoadMftRecord(const NtfsVolume& v, uint64_t lba, std::vector<uint8_t>& buffer) {
  return LoadRecord(v, lba, buffer);
}

int32_t ReadAttributeListEntries(const NtfsVolume& v, const AttributeView& list,
                                 std::vector<AttributeListEntry>& entries) {
  entries.clear();
  Buffer listBytes;
  int32_t rc = kOk;
  if (!list.NonResident()) {
    auto value = list.bytes.sub(0x18, list.bytes.size() - std::min<size_t>(list.bytes.size(), 0x18));
    if (value) listBytes.assign(value->data(), value->data() + value->size());
  } else {
    std::vector<DataRun> listRuns;
    DecodeRunList(list, listRuns);
    uint64_t limit = std::min<uint64_t>(list.DataSize(), kMaxAttributeListBytes);
    listBytes = ReadRunBytes(v, listRuns, limit, rc);
    if (rc != kOk) return rc;
  }
  entries = ParseAttributeList(ByteReader(listBytes.data(), listBytes.size()));
  return kOk;
}

int32_t FindAttributeRuns(const NtfsVolume& v, uint64_t lba, uint32_t type, std::vector<DataRun>& runs) {
  Buffer buffer;
  int32_t rc = LoadRecord(v, lba, buffer);
  if (rc != kOk) return rc;
  return FindAttributeRunsInRecord(v, ByteReader(buffer.data(), buffer.size()), type, runs);
}

int32_t ResidentDataInRecord(const NtfsGeometry& g, ByteReader record, std::vector<uint8_t>& out) {
  out.clear();
  AttributeView a;
  if (!FindAttribute(record, WalkRule::ResidentData(), kAttrData, a)) return kErrNoResidentData;
  if (a.NonResident()) return kErrNoResidentData;
  size_t offset = a.ValueOffset();
  if (offset > a.bytes.size()) return kErrInvalidParameter;
  size_t count = a.bytes.size() - offset;
  if (count >= g.recordSize) return kErrInvalidParameter;
  out.assign(a.bytes.data() + offset, a.bytes.data() + offset + count);
  return kOk;
}

int32_t ReadResidentData(const NtfsVolume& v, uint64_t lba, std::vector<uint8_t>& out) {
  out.clear();
  Buffer buffer;
  if (LoadRecord(v, lba, buffer) != kOk) return kErrNoResidentData;
  return ResidentDataInRecord(v.geometry, ByteReader(buffer.data(), buffer.size()), out);
}

int32_t ReadDataSize(const NtfsVolume& v, uint64_t lba, uint64_t& size) {
  size = 0;
  Buffer buffer;
  int32_t rc = LoadRecord(v, lba, buffer);
  if (rc != kOk) return rc;
  AttributeView a;
  if (!FindAttribute(ByteReader(buffer.data(), buffer.size()), WalkRule::RunLookup(), kAttrData, a))
    return kErrInvalidParameter;
  size = a.NonResident() ? a.DataSize() : a.ValueLength();
  return kOk;
}

int32_t LoadMftRuns(const SectorDevice& device, const NtfsGeometry& geometry, std::vector<DataRun>& runs) {
  NtfsVolume v{&device, geometry, nullptr};
  runs.clear();
  return FindAttributeRuns(v, geometry.mftStart, kAttrData, runs);
}

}  // namespace nuvarin
