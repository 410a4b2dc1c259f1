// Archives: gzip, 7z, ZIP (and the Office archives' length), RAR 4 and cabinet files.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {

uint32_t TestGzip(const uint8_t* p, size_t n) {
  if (!p || n < 16 || p[0] != 0x1F || p[1] != 0x8B || p[2] != 0x08) return kNoKind;
  if (p[3] != 0 && p[3] != 8) return kNoKind;
  if (p[8] != 2 && p[8] != 4) return kNoKind;
  return (p[9] < 0x0E || p[9] == 0xFF) ? kKindGz : kNoKind;
}

uint32_t Test7z(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {'7', 'z', 0xBC, 0xAF, 0x27};
  return (p && n >= 5 && ByteReader(p, n).equals(0, kMagic, 5)) ? kKind7z : kNoKind;
}

uint32_t TestZip(const uint8_t* p, size_t n) {
  static const uint8_t kLocal[] = {'P', 'K', 3, 4};
  return (p && n >= 48 && ByteReader(p, n).equals(0, kLocal, 4)) ? kKindZip : kNoKind;
}

uint32_t TestRar(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  return (p && n >= 7 && ByteReader(p, n).equals(0, kMagic, 7)) ? kKindRar : kNoKind;
}

uint32_t TestCab(const uint8_t* p, size_t n) {
  return (p && n >= 36 && ByteReader(p, n).equals(0, "MSCF")) ? kKindCab : kNoKind;
}

uint64_t SizeZipEnd(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kEnd[] = {'P', 'K', 5, 6};
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    size_t at = FindLastBytes(c.data, c.searchEnd, kEnd, 4);
    if (at == kNotFound) return false;
    length = c.before + at + 22;
    return true;
  });
}

uint64_t Size7zEnd(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kHeaderFolder[] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                                          0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    size_t at = FindLastBytes(c.data, c.searchEnd, kHeaderFolder, sizeof(kHeaderFolder));
    if (at == kNotFound) return false;
    length = c.before + at + 27;
    return true;
  });
}

uint64_t SizeRarEnd(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kEndBlock[] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
  const uint32_t ss = CarveState::Instance().sectorSize;
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    for (size_t at = FindBytes(c.data, c.searchEnd, 0, kEndBlock, 7); at != kNotFound;
         at = FindBytes(c.data, c.searchEnd, at + 1, kEndBlock, 7)) {
      if (IsValidEndMarker(c.data, c.searchEnd, at + 7, ss)) {
        length = c.before + at + 7;
        return true;
      }
    }
    return false;
  });
}

uint64_t SizeCab(const uint8_t* p, size_t n, uint64_t cap) {
  if (!p || n < 36) return CarveState::Instance().sectorSize;
  return std::min<uint64_t>(ByteReader(p, n).le32(8), cap);
}

}  // namespace nuvarin::formats
