// The signature catalogue: the ordered table of file kinds recognised from
// their first sector, with header tests and size rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/sector_device.h"

namespace nuvarin {

// 1 when the first bytes of a file agree with the kind its extension names, or
// the table has no row for the extension; 0 when they contradict it. The
// extension is given without the dot, in any letter case. Header tests that
// need more than the sector read `device` from `firstSector`.
int32_t MatchesExtension(const uint8_t* sector, size_t length, std::string_view extension,
                         const SectorDevice& device, uint32_t sectorSize, uint64_t firstSector);

}  // namespace nuvarin
