// The NTFS boot sector: the few fields the engines read, turned into the
// volume geometry every later read is computed from.
#pragma once
#include <cstddef>
#include <cstdint>

namespace nuvarin {

constexpr size_t kNtfsBootAreaBytes = 4096;

struct NtfsGeometry {
  uint32_t bytesPerSector = 512;   // 0x0B; 0 on disk means 512
  uint32_t sectorsPerCluster = 0;  // 0x0D; a byte above 0x80 stands for 2^(256 - byte)
  uint32_t sectorsPerRecord = 2;   // 2 on 512-byte sectors, else 1
  uint32_t recordSize = 1024;      // bytesPerSector * sectorsPerRecord
  uint64_t volumeStart = 0;        // first sector of the volume on the device
  uint64_t mftStart = 0;           // volumeStart + MFT cluster * sectorsPerCluster

  uint32_t ClusterBytes() const { return sectorsPerCluster * bytesPerSector; }
};

// Sectors per cluster of the boot byte at 0x0D: values up to 0x80 are the
// count itself, values above a power of two, 2^(256 - byte) (0xF8 is 256
// sectors, 128 KiB clusters on 512-byte sectors). 0 when
// the byte gives no usable count (0, or a shift of 32 or more).
uint32_t DecodeSectorsPerCluster(uint8_t value);

// Derives the geometry from the boot area (at least 512 bytes). False, with
// `out` untouched, when the sector or cluster size is unusable or the MFT
// position overflows.
bool DecodeNtfsGeometry(const uint8_t* boot, size_t length, uint64_t volumeStart, NtfsGeometry& out);

}  // namespace nuvarin
