#include "ntfs/boot_sector.h"

#include "storage/byte_reader.h"

namespace nuvarin {

uint32_t DecodeSectorsPerCluster(uint8_t value) {
  if (value <= 0x80) return value;  // 0x80 itself is the plain count 128
  uint32_t shift = 256u - value;
  if (shift >= 32) return 0;
  return 1u << shift;
}

bool DecodeNtfsGeometry(const uint8_t* boot, size_t length, uint64_t volumeStart, NtfsGeometry& out) {
  ByteReader r(boot, length);
  if (!r.has(0, 512)) return false;
  NtfsGeometry g;
  g.bytesPerSector = r.le16(0x0B);
  if (g.bytesPerSector == 0) g.bytesPerSector = 512;
  // Record arithmetic needs whole 512-byte multiples no larger than the 8 KiB record read.
  if (g.bytesPerSector % 512 != 0 || g.bytesPerSector > 4096) return false;
  g.sectorsPerCluster = DecodeSectorsPerCluster(r.u8(0x0D));
  if (g.sectorsPerCluster == 0) return false;
  uint64_t clusterBytes;
  if (!CheckedMul<uint64_t>(g.sectorsPerCluster, g.bytesPerSector, clusterBytes) || clusterBytes > 0xFFFFFFFFull)
    return false;
  g.sectorsPerRecord = g.bytesPerSector == 512 ? 2 : 1;
  g.recordSize = g.bytesPerSector * g.sectorsPerRecord;
  g.volumeStart = volumeStart;
  uint64_t mftOffset;
  if (!CheckedMul<uint64_t>(r.le64(0x30), g.sectorsPerCluster, mftOffset) ||
      !CheckedAdd<uint64_t>(volumeStart, mftOffset, g.mftStart))
    return false;
  out = g;
  return true;
}

}  // namespace nuvarin
