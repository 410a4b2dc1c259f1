// The attribute list ($ATTRIBUTE_LIST, type 0x20): where the attributes of a
// file that outgrew its base record live.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/byte_reader.h"

namespace nuvarin {

struct AttributeListEntry {
  uint32_t type = 0;
  uint16_t length = 0;
  uint8_t nameLength = 0;
  uint64_t startVcn = 0;
  uint64_t recordNumber = 0;  // 48 bits of the MFT reference
};

// Smallest entry that holds every field above.
constexpr size_t kAttributeListEntryMin = 0x1A;
// List bytes read from a non-resident list at most.
constexpr size_t kMaxAttributeListBytes = 256 * 1024;

// Entries of the list held in `bytes`, walked by their u16 lengths; ends at
// type 0xFFFFFFFF, type 0, a length too short for an entry, or an entry that
// would pass the end of the bytes.
std::vector<AttributeListEntry> ParseAttributeList(ByteReader bytes);

}  // namespace nuvarin
