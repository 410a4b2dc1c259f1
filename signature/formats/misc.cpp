// Executables, disk-backup images, databases, mail stores, Flash sources and
// TrueType fonts.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {

uint32_t TestExecutable(const uint8_t* p, size_t n) {
  static const uint8_t kPe[] = {'P', 'E', 0, 0};
  ByteReader r(p, n);
  if (!p || n < 512 || !r.equals(0, "MZ")) return kNoKind;
  uint32_t header = r.le32(60);
  if (header > 488 || !r.equals(header, kPe, 4)) return kNoKind;
  uint16_t characteristics = r.le16(header + 22);
  if (!(characteristics & 0x0002)) return kNoKind;
  if (characteristics & 0x1000) return kKindSys;
  if (characteristics & 0x2000) return kKindDll;
  return kKindExe;
}

uint32_t TestGho(const uint8_t* p, size_t n) {
  return (p && n >= 4 && ByteReader(p, n).le32(0) == 0x0000EFFEu) ? kKindGho : kNoKind;
}

uint32_t TestSqlite(const uint8_t* p, size_t n) {
  static const char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                  'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  return (p && n >= 16 && ByteReader(p, n).equals(0, kMagic, 16)) ? kKindDb : kNoKind;
}

uint32_t TestDbx(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {0xCF, 0xAD, 0x12, 0xFE};
  return (p && n >= 16 && ByteReader(p, n).equals(0, kMagic, 4)) ? kKindDbx : kNoKind;
}

uint32_t TestPst(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return (p && n >= 16 && r.equals(0, "!BDN") && r.equals(8, "SM")) ? kKindPst : kNoKind;
}

uint32_t TestFla(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0};
  return (p && n >= 16 && ByteReader(p, n).equals(0, kMagic, 4)) ? kKindFla : kNoKind;
}

uint32_t TestTrueType(const uint8_t* p, size_t n) {
  static const uint8_t kVersion[] = {0x00, 0x01, 0x00, 0x00};
  ByteReader r(p, n);
  if (!p || n < 16 || !r.equals(0, kVersion, 4)) return kNoKind;
  const uint32_t tables = r.be16(4);
  if (tables == 0 || r.be16(6) == 0 || r.be16(8) == 0 || r.be16(10) == 0) return kNoKind;
  if (16 * static_cast<uint64_t>(tables) + 16 > n) return kNoKind;
  return r.equals(12 + 16 * static_cast<size_t>(tables), kVersion, 4) ? kKindTtf : kNoKind;
}

uint64_t SizeTrueType(const uint8_t* p, size_t n, uint64_t cap) {
  const uint32_t tables = ByteReader(p, n).be16(4);
  if (tables == 0) return 0;
  auto tablesEnd = [tables](ByteReader r) {
    uint64_t end = 0;
    for (uint32_t i = 0; i < tables; ++i) {
      size_t entry = 12 + 16 * static_cast<size_t>(i);
      end = std::max<uint64_t>(end, static_cast<uint64_t>(r.be32(entry + 8)) + r.be32(entry + 12));
    }
    // Tables are padded to four bytes and so is the font; sector sizes are
    // multiples of four, so the padding never reaches past the last sector.
    return (end + 3) & ~uint64_t{3};
  };
  if (n >= 16 * static_cast<uint64_t>(tables) + 12) return tablesEnd(ByteReader(p, n));
  CarveState& st = CarveState::Instance();
  const size_t want = static_cast<size_t>(std::min<uint64_t>(cap, st.WorkBufferSize()));
  if (!ReadFileBytes(0, want, st.WorkBuffer())) return st.sectorSize;
  return tablesEnd(ByteReader(st.WorkBuffer(), want));
}

}  // namespace nuvarin::formats
