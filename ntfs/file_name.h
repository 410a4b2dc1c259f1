// The file name attribute (0x30): parent folder, times, size and name. The
// value is taken at attribute offset 0x18.
#pragma once
#include <cstdint>
#include <string>

#include "ntfs/attribute.h"

namespace nuvarin {

constexpr uint8_t kNamespaceWin32 = 1;

struct FileNameValue {
  uint32_t parentRecord = 0;   // low 32 bits of the parent reference
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t accessTime = 0;
  uint64_t realSize = 0;
  uint8_t nameSpace = 0;
  std::string name;            // UTF-8
};

// False when the attribute is too short for the value or its name.
bool DecodeFileName(const AttributeView& attribute, FileNameValue& out);
// Only the parent number (the ancestor walk needs nothing else).
bool FileNameParent(const AttributeView& attribute, uint32_t& parent);

}  // namespace nuvarin
