// Boot-area tests of the engine factory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace nuvarin {

// On the first 512 bytes of an area.
bool ProbeNtfsBoot(const uint8_t* sector, size_t length);
bool ProbeFatBoot(const uint8_t* sector, size_t length);
// On the superblock, which starts at byte 1,024 of the area (88 bytes needed).
bool ProbeExtSuperblock(const uint8_t* superblock, size_t length);
bool IsBitLockerBoot(const uint8_t* sector, size_t length);

enum class AreaClass { kNtfs, kFat, kExt, kOther };
constexpr size_t kProbeBytes = 16384;
// Classification of the first 16 KiB, first match wins: NTFS, FAT, ext, other.
AreaClass ClassifyArea(const uint8_t* buffer, size_t length);
const char* AreaClassName(AreaClass c);

}  // namespace nuvarin
