#include "ntfs/attribute_list.h"

#include "ntfs/attribute.h"

namespace nuvarin {

std::vector<AttributeListEntry> ParseAttributeList(ByteReader bytes) {
  std::vector<AttributeListEntry> entries;
  size_t pos = 0;
  while (bytes.has(pos, kAttributeListEntryMin)) {
    AttributeListEntry e;
    e.type = bytes.le32(pos);
    e.length = bytes.le16(pos + 0x04);
    if (e.type == kAttrEnd || e.type == 0) break;
    if (e.length < kAttributeListEntryMin || !bytes.has(pos, e.length)) break;
    e.nameLength = bytes.u8(pos + 0x06);
    e.startVcn = bytes.le64(pos + 0x08);
    e.recordNumber = bytes.le32(pos + 0x10) | (static_cast<uint64_t>(bytes.le16(pos + 0x14)) << 32);
    entries.push_back(e);
    pos += e.length;
  }
  return entries;
}

}  // namespace nuvarin
