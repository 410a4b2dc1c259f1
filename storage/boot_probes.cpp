#include "storage/boot_probes.h"

#include "storage/byte_reader.h"

namespace nuvarin {
namespace {

bool IsClusterSizeByte(uint8_t v) {
  return v == 1 || v == 2 || v == 4 || v == 8 || v == 16 || v == 32 || v == 64 || v == 128;
}

// NTFS writes clusters above 64 KiB as a negative exponent: the byte b >= 0x80
// means 2^(256 - b) sectors. 0xF4 is 4,096 sectors, the 2 MiB clusters of
// today's volumes on 512-byte sectors; 0x80 itself stays 128.
bool IsNtfsClusterSizeByte(uint8_t v) { return IsClusterSizeByte(v) || v >= 0xF4; }

bool HasBootSignature(const ByteReader& r) { return r.u8(510) == 0x55 && r.u8(511) == 0xAA; }

bool Fat1216LayoutTest(const ByteReader& r) {
  return r.u8(16) != 0 && (r.le16(19) != 0 || r.le32(32) != 0) && IsClusterSizeByte(r.u8(13)) &&
         r.le16(22) >= 1 && HasBootSignature(r);
}

bool Fat32LayoutTest(const ByteReader& r) {
  return r.equals(82, "FAT32   ") && r.u8(16) != 0 && r.le32(32) != 0 && IsClusterSizeByte(r.u8(13)) &&
         r.le32(36) != 0 && HasBootSignature(r);
}

}  // namespace

bool ProbeNtfsBoot(const uint8_t* sector, size_t length) {
  if (!sector || length < 512) return false;
  ByteReader r(sector, 512);
  if (!r.equals(3, "NTFS    ")) return false;
  if (r.le16(11) % 512 != 0) return false;
  if (r.le16(14) != 0) return false;
  if (!IsNtfsClusterSizeByte(r.u8(13))) return false;
  if (r.le64(40) == 0) return false;
  for (size_t off : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35}) {
    if (r.u8(off) != 0) return false;
  }
  return HasBootSignature(r);
}

bool IsBitLockerBoot(const uint8_t* sector, size_t length) {
  if (!sector || length < 512) return false;
  ByteReader r(sector, 512);
  if (r.equals(3, "-FVE-FS-")) return true;
  uint8_t tail[30];
  for (int i = 0; i < 8; ++i) tail[i] = 'x';
  for (int i = 8; i < 27; ++i) tail[i] = 0xFF;
  tail[27] = 0x00;
  tail[28] = 0x1F;
  tail[29] = 0x2C;
  return r.equals(480, tail, sizeof(tail));
}

bool ProbeFatBoot(const uint8_t* sector, size_t length) {
  if (!sector || length < 512) return false;
  if (IsBitLockerBoot(sector, length)) return false;
  ByteReader r(sector, 512);
  uint32_t fatSize = r.le16(22) != 0 ? r.le16(22) : r.le32(36);
  uint32_t totalSectors = r.le32(32) != 0 ? r.le32(32) : r.le16(19);
  uint32_t bytesPerSector = r.le16(11);
  uint32_t sectorsPerCluster = r.u8(13);
  if (bytesPerSector == 0 || bytesPerSector % 512 != 0 || sectorsPerCluster == 0) return false;
  uint32_t rootDirSectors = (static_cast<uint32_t>(r.le16(17)) * 32) / bytesPerSector;
  // Unsigned arithmetic as the boot values give it; a wrap-around makes a huge
  // count, which the FAT32 limit below rejects.
  uint32_t clusters =
      (totalSectors - rootDirSectors - static_cast<uint32_t>(r.u8(16)) * fatSize - r.le16(14)) / sectorsPerCluster;
  if (clusters < 65525) return Fat1216LayoutTest(r) || Fat32LayoutTest(r);
  if (clusters < 0x0FFFFFF0) return Fat32LayoutTest(r) || Fat1216LayoutTest(r);
  return false;
}

bool ProbeExtSuperblock(const uint8_t* sb, size_t length) {
  if (!sb || length < 88) return false;
  ByteReader r(sb, length);
  if (r.le16(56) != 0xEF53) return false;
  uint32_t inodes = r.le32(0), blocks = r.le32(4), blocksPerGroup = r.le32(32), inodesPerGroup = r.le32(40);
  uint32_t firstIno = r.le32(84);
  if (inodes == 0 || blocks == 0 || blocksPerGroup == 0 || inodesPerGroup == 0 || firstIno <= 2) return false;
  uint32_t firstDataBlock = r.le32(20);
  if ((blocks - firstDataBlock - 1) / blocksPerGroup + 1 != (inodes - 1) / inodesPerGroup + 1) return false;
  uint32_t logBlockSize = r.le32(24);
  bool oneKiB = logBlockSize < 32 && (1024ULL << logBlockSize) == 1024;
  if (firstDataBlock != (oneKiB ? 1u : 0u)) return false;
  return inodes > firstIno;
}

AreaClass ClassifyArea(const uint8_t* buffer, size_t length) {
  if (ProbeNtfsBoot(buffer, length)) return AreaClass::kNtfs;
  if (ProbeFatBoot(buffer, length)) return AreaClass::kFat;
  if (buffer && length > 1024 && ProbeExtSuperblock(buffer + 1024, length - 1024)) return AreaClass::kExt;
  return AreaClass::kOther;
}

const char* AreaClassName(AreaClass c) {
  switch (c) {
    case AreaClass::kNtfs: return "NTFS";
    case AreaClass::kFat: return "FAT";
    case AreaClass::kExt: return "ext";
    case AreaClass::kOther: return "other";
  }
  return "other";
}

}  // namespace nuvarin
