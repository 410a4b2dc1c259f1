// Compound documents (the structured-storage container of Word, Excel and
// PowerPoint 97-2003 files and many others): classification by the first
// stream sector, the root entry's class and the stream names; length from the
// header's FAT description.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {
namespace {

constexpr uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint8_t kClassWord[] = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint8_t kClassExcel[] = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint8_t kClassExcel5[] = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint8_t kClassPowerPoint[] = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                        0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};
constexpr uint64_t kDirectoryEntry = 128;
constexpr uint32_t kEndOfChain = 0xFFFFFFFC;

// Case-insensitive comparison of a UTF-16LE name with an ASCII text.
bool NameStartsWith(ByteReader entry, const char* text) {
  for (size_t i = 0; text[i] != 0; ++i) {
    uint16_t c = entry.le16(2 * i);
    if (c >= 'a' && c <= 'z') c = static_cast<uint16_t>(c - 'a' + 'A');
    uint16_t t = static_cast<uint8_t>(text[i]);
    if (t >= 'a' && t <= 'z') t = static_cast<uint16_t>(t - 'a' + 'A');
    if (c != t) return false;
  }
  return true;
}

uint32_t Classify(const uint8_t* header, size_t n) {
  CarveState& st = CarveState::Instance();
  const uint32_t ss = st.sectorSize;
  uint8_t* sector = st.Scratch(ss);
  uint64_t at;
  if (!CheckedAdd<uint64_t>(st.cursorSector, 1, at) || !st.ReadDeviceSectors(at, 1, sector)) return kKindOle;
  ByteReader first(sector, ss);
  if (first.le16(0) == 0xA5EC) return kKindDoc;
  if (first.le16(0) == 0x0809 && first.le16(2) == 0x0010 && first.le16(4) == 0x0600) return kKindXls;
  uint64_t directory = ByteReader(header, n).le32(48);
  if (!CheckedAdd<uint64_t>(st.cursorSector, directory + 1, at) || !st.ReadDeviceSectors(at, 1, sector))
    return kKindOle;
  ByteReader dir(sector, ss);
  if (dir.equals(80, kClassWord, 16)) return kKindDoc;
  if (dir.equals(80, kClassExcel, 16) || dir.equals(80, kClassExcel5, 16)) return kKindXls;
  if (dir.equals(80, kClassPowerPoint, 16)) return kKindPpt;
  for (uint64_t e = 0; e < ss / kDirectoryEntry; ++e) {
    ByteReader entry = dir.from(static_cast<size_t>(e * kDirectoryEntry));
    if (NameStartsWith(entry, "WordDocument")) return kKindDoc;
    if (NameStartsWith(entry, "Workbook")) return kKindXls;
    if (NameStartsWith(entry, "PowerPoint Document")) return kKindPpt;
  }
  return kKindOle;
}

// Reads file sector `number` (in the file's own sector size) into `out`.
bool ReadFileSector(uint64_t number, uint32_t fileSectorSize, uint8_t* out) {
  uint64_t offset;
  if (!CheckedMul<uint64_t>(number + 1, fileSectorSize, offset)) return false;
  return ReadFileBytes(offset, fileSectorSize, out);
}

// The header rule; false when the header does not describe a usable FAT.
bool SizeFromHeader(const uint8_t* p, size_t n, uint64_t cap, uint64_t& length) {
  ByteReader h(p, n);
  const uint32_t shift = h.le16(30);
  if (shift != 9 && shift != 12) return false;
  const uint32_t k = shift - 2;
  const uint32_t fileSector = 1u << shift;
  const uint64_t perSector = 1ull << k;  // FAT entries per FAT sector
  const uint64_t fatSectors = h.le32(44);
  const uint64_t difatSectors = h.le32(72);
  const uint64_t maxFat = (0xFFFFFFFAull >> k) + 1;
  if (fatSectors > maxFat || h.le32(64) > maxFat) return false;
  if (difatSectors > maxFat / (perSector - 1) + 1) return false;
  if (difatSectors != 0 && fatSectors <= 108) return false;
  // Without DIFAT sectors the header's 109 entries must hold every FAT sector.
  if (fatSectors == 0 || (difatSectors == 0 && fatSectors > 109)) return false;
  const uint64_t estimate = fatSectors * perSector + 1;

  CarveState& st = CarveState::Instance();
  uint8_t* buffer = st.WorkBuffer();  // one file sector, at most 4 KiB
  uint64_t lastFat;
  if (difatSectors == 0) {
    lastFat = h.le32(76 + 4 * static_cast<size_t>(fatSectors - 1));
  } else {
    const uint64_t perDifat = perSector - 1;  // the last entry links to the next DIFAT sector
    uint64_t r = (fatSectors - 109) % perDifat;
    uint64_t index = r == 0 ? perDifat - 1 : r - 1;
    uint64_t current = h.le32(68);
    for (uint64_t i = 1;; ++i) {
      if (current >= kEndOfChain) return false;
      if (!ReadFileSector(current, fileSector, buffer)) return false;
      ByteReader difat(buffer, fileSector);
      if (i == difatSectors) {
        lastFat = difat.le32(static_cast<size_t>(4 * index));
        break;
      }
      current = difat.le32(static_cast<size_t>(4 * perDifat));
    }
  }
  if (lastFat >= kEndOfChain || !ReadFileSector(lastFat, fileSector, buffer)) return false;
  ByteReader fat(buffer, fileSector);
  uint64_t freeEntries = 0;
  while (freeEntries < perSector && fat.le32(static_cast<size_t>(4 * (perSector - 1 - freeEntries))) ==
                                        0xFFFFFFFFu)
    ++freeEntries;
  length = std::min<uint64_t>((estimate - freeEntries) * fileSector, cap);
  return true;
}

}  // namespace

uint32_t TestCompoundDocument(const uint8_t* p, size_t n) {
  if (!p || n < 8 || !ByteReader(p, n).equals(0, kMagic, 8)) return kNoKind;
  // A stop-sector probe only needs to know that some kind starts here.
  if (CarveState::Instance().probeOnly) return kKindOle;
  return Classify(p, n);
}

uint64_t SizeCompoundDocument(const uint8_t* p, size_t n, uint64_t cap) {
  uint64_t length = 0;
  if (SizeFromHeader(p, n, cap, length)) return length;
  static const uint8_t kCompObj[] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
  static const uint8_t kWordText[] = {'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't', ' ', 'O', 'f', 'f',
                                      'i', 'c', 'e', ' ', 'W', 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
  const uint32_t ss = CarveState::Instance().sectorSize;
  return ReadOn(cap, [&](const Chunk& c, uint64_t& out) {
    if (FindBytes(c.data, c.searchEnd, 0, kCompObj, sizeof(kCompObj)) == kNotFound) return false;
    size_t at = FindBytes(c.data, c.searchEnd, 0, kWordText, sizeof(kWordText));
    if (at == kNotFound) return false;
    uint64_t end = c.before + at + sizeof(kWordText);
    out = (end + ss - 1) / ss * ss;
    return true;
  });
}

}  // namespace nuvarin::formats
