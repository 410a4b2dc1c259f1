// Office Open XML files (DOCX, XLSX, PPTX): ZIP archives classified by the
// names of their first parts.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {
namespace {

constexpr uint8_t kLocal[] = {'P', 'K', 3, 4};
constexpr uint8_t kCentral[] = {'P', 'K', 1, 2};
constexpr uint8_t kEnd[] = {'P', 'K', 5, 6};
constexpr size_t kBlocks = 5;
constexpr size_t kSectorsPerBlock = 4;
constexpr size_t kSeam = 4;

bool StartsWithNoCase(const uint8_t* data, size_t left, const char* prefix, size_t need) {
  if (left < need) return false;
  for (size_t i = 0; prefix[i] != 0; ++i) {
    uint8_t c = data[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
    if (c != static_cast<uint8_t>(prefix[i])) return false;
  }
  return true;
}

uint32_t KindOfName(const uint8_t* block, size_t size, size_t nameAt) {
  if (nameAt >= size) return kNoKind;
  const uint8_t* name = block + nameAt;
  size_t left = size - nameAt;
  if (StartsWithNoCase(name, left, "word", 5)) return kKindDocx;
  if (StartsWithNoCase(name, left, "ppt", 4)) return kKindPptx;
  if (StartsWithNoCase(name, left, "xl", 3)) return kKindXlsx;
  return kNoKind;
}

// Examines the local headers and central entries of one block, alternating.
uint32_t ClassifyBlock(const uint8_t* block, size_t size) {
  size_t end = FindBytes(block, size, 0, kEnd, 4);
  size_t limit = end == kNotFound ? size : end;
  size_t local = FindBytes(block, limit, 0, kLocal, 4);
  size_t central = FindBytes(block, limit, 0, kCentral, 4);
  while (local != kNotFound || central != kNotFound) {
    if (local != kNotFound) {
      uint32_t kind = KindOfName(block, size, local + 30);
      if (kind != kNoKind) return kind;
      local = FindBytes(block, limit, local + 1, kLocal, 4);
    }
    if (central != kNotFound) {
      if (size - central >= 48) {
        uint32_t kind = KindOfName(block, size, central + 46);
        if (kind != kNoKind) return kind;
      }
      central = FindBytes(block, limit, central + 1, kCentral, 4);
    }
  }
  return kNoKind;
}

}  // namespace

uint32_t TestOfficeArchive(const uint8_t* p, size_t n) {
  if (!p || n < 31 || !ByteReader(p, n).equals(0, kLocal, 4)) return kNoKind;
  CarveState& st = CarveState::Instance();
  // A stop-sector probe: with 48 bytes the plain ZIP row claims the sector anyway.
  if (st.probeOnly && n >= 48) return kKindZip;
  const uint32_t ss = st.sectorSize;
  const size_t blockBytes = kSectorsPerBlock * ss;
  uint8_t* buffer = st.Scratch(kSeam + blockBytes);
  size_t carried = 0;  // seam bytes kept from the previous block
  for (size_t b = 0; b < kBlocks; ++b) {
    uint64_t at;
    if (!CheckedAdd<uint64_t>(st.cursorSector, b * kSectorsPerBlock, at)) break;
    if (!st.ReadDeviceSectors(at, kSectorsPerBlock, buffer + kSeam)) break;
    const uint8_t* block = buffer + kSeam - carried;
    uint32_t kind = ClassifyBlock(block, carried + blockBytes);
    if (kind != kNoKind) return kind;
    std::memmove(buffer, buffer + kSeam + blockBytes - kSeam, kSeam);
    carried = kSeam;
  }
  return kNoKind;
}

}  // namespace nuvarin::formats
