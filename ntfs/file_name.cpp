#include "ntfs/file_name.h"

#include "platform/text.h"

namespace nuvarin {

namespace {
constexpr size_t kValue = 0x18;
constexpr size_t kNameLength = 0x40;
constexpr size_t kName = 0x42;
}  // namespace

bool FileNameParent(const AttributeView& attribute, uint32_t& parent) {
  if (!attribute.bytes.has(kValue, 8)) return false;
  parent = attribute.bytes.le32(kValue);
  return true;
}

bool DecodeFileName(const AttributeView& attribute, FileNameValue& out) {
  auto value = attribute.bytes.sub(kValue, attribute.bytes.size() >= kValue ? attribute.bytes.size() - kValue : 0);
  if (!value || !value->has(0, kName)) return false;
  size_t units = value->u8(kNameLength);
  if (!value->has(kName, units * 2)) return false;
  out.parentRecord = value->le32(0x00);
  out.creationTime = value->le64(0x08);
  out.modificationTime = value->le64(0x10);
  out.accessTime = value->le64(0x20);
  out.realSize = value->le64(0x30);
  out.nameSpace = value->u8(0x41);
  out.name = platform::Utf16LeBytesToUtf8(value->data() + kName, units);
  return true;
}

}  // namespace nuvarin
