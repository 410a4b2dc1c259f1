#include "signature/size_rules_common.h"

#include "fat/dir_entry.h"
#include "signature/catalogue.h"
#include "storage/byte_reader.h"

namespace nuvarin {

size_t FindBytes(const uint8_t* data, size_t size, size_t from, const void* pattern, size_t length) {
  if (data == nullptr || length == 0 || from >= size || size - from < length) return kNotFound;
  const auto* pat = static_cast<const uint8_t*>(pattern);
  const uint8_t* p = data + from;
  const uint8_t* last = data + size - length;  // last possible start
  while (p <= last) {
    const void* hit = std::memchr(p, pat[0], static_cast<size_t>(last - p) + 1);
    if (hit == nullptr) return kNotFound;
    p = static_cast<const uint8_t*>(hit);
    if (std::memcmp(p, pat, length) == 0) return static_cast<size_t>(p - data);
    ++p;
  }
  return kNotFound;
}

size_t FindLastBytes(const uint8_t* data, size_t size, const void* pattern, size_t length) {
  if (data == nullptr || length == 0 || size < length) return kNotFound;
  const auto* pat = static_cast<const uint8_t*>(pattern);
  for (size_t i = size - length + 1; i-- > 0;) {
    if (data[i] == pat[0] && std::memcmp(data + i, pat, length) == 0) return i;
  }
  return kNotFound;
}

bool IsValidEndMarker(const uint8_t* data, size_t size, size_t endOffset, uint32_t sectorSize) {
  if (sectorSize == 0 || endOffset > size) return false;
  if (endOffset % sectorSize == 0) return true;
  size_t sectorEnd = std::min(size, (endOffset / sectorSize + 1) * static_cast<size_t>(sectorSize));
  for (size_t i = endOffset; i < sectorEnd; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

bool IsFileSystemSector(const uint8_t* sector, size_t length) {
  if (sector == nullptr || length < 32) return false;
  ByteReader r(sector, length);
  if (r.equals(0, "FILE") || r.equals(0, "INDX")) return true;
  if (r.equals(0, "RSTR")) {
    static const uint8_t kNtfsUtf16[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    if (FindBytes(sector, length, 0, kNtfsUtf16, sizeof(kNtfsUtf16)) != kNotFound) return true;
  }
  static const uint8_t kAttrDef[] = {0x24, 0, 'S', 0, 'T', 0, 'A', 0};
  if (r.equals(0, kAttrDef, sizeof(kAttrDef))) return true;
  if (sector[0] == 0xEB && sector[2] == 0x90) {
    static const char* const kOemNames[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "NTFS    ", "EXFAT   "};
    for (const char* oem : kOemNames) {
      if (r.equals(3, oem, 8)) return true;
    }
  }
  return LooksLikeDirectorySector(sector, length);
}

bool IsStopSector(const uint8_t* sector, size_t length) {
  CarveState& st = CarveState::Instance();
  bool savedProbe = st.probeOnly;
  st.probeOnly = true;
  size_t row = 0;
  uint32_t kind = RunHeaderTests(sector, length, &row);
  st.probeOnly = savedProbe;
  if (kind != kNoKind && !(st.sizingKind == kKindMpeg && kind == kKindMpeg)) return true;
  return IsFileSystemSector(sector, length);
}

size_t FindStopSector(const uint8_t* chunk, size_t sectors) {
  CarveState& st = CarveState::Instance();
  const size_t ss = st.sectorSize;
  for (size_t i = 0; i < sectors; ++i) {
    ++st.cursorSector;
    if (IsStopSector(chunk + i * ss, ss)) return i;
  }
  return kNotFound;
}

bool ReadFileBytes(uint64_t offset, size_t length, uint8_t* out) {
  CarveState& st = CarveState::Instance();
  const uint32_t ss = st.sectorSize;
  if (length == 0) return true;
  uint64_t firstSector = offset / ss;
  uint64_t skip = offset % ss;
  uint64_t sectors = (skip + length + ss - 1) / ss;
  uint64_t start;
  if (!CheckedAdd(st.fileStart, firstSector, start)) return false;
  uint8_t* scratch = st.Scratch(static_cast<size_t>(sectors) * ss);
  if (!st.ReadDeviceSectors(start, sectors, scratch)) return false;
  std::memcpy(out, scratch + skip, length);
  return true;
}

uint64_t RunToStopSector(const uint8_t* sector, size_t length, uint64_t cap) {
  return ReadOn(cap, [](const Chunk&, uint64_t&) { return false; });
}

}  // namespace nuvarin
