// Attribute headers of an MFT record and the walk over them. Each caller walks
// with its own end bound, stop markers and length width (WalkRule); every walk
// stays inside the record buffer whatever the record claims.
#pragma once
#include <cstddef>
#include <cstdint>

#include "storage/byte_reader.h"

namespace nuvarin {

constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrIndexAllocation = 0xA0;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr uint32_t kAttrFill = 0xFDFDFDFD;

// One attribute, viewed over exactly its declared extent.
struct AttributeView {
  size_t offset = 0;     // from the record start
  uint32_t type = 0;
  uint32_t length = 0;   // the step the walk took
  ByteReader bytes;      // [offset, offset + length) of the record

  bool NonResident() const { return bytes.u8(0x08) != 0; }
  uint8_t NameLength() const { return bytes.u8(0x09); }
  // Resident attributes.
  uint32_t ValueLength() const { return bytes.le32(0x10); }
  uint16_t ValueOffset() const { return bytes.le16(0x14); }
  // Non-resident attributes.
  uint64_t LowestVcn() const { return bytes.le64(0x10); }
  uint16_t RunListOffset() const { return bytes.le16(0x20); }
  uint64_t AllocatedSize() const { return bytes.le64(0x28); }
  uint64_t DataSize() const { return bytes.le64(0x30); }
  // The u16 length field itself (the deleted-file scan's size rule reads it so).
  uint16_t Length16() const { return bytes.le16(0x04); }
};

struct WalkRule {
  enum class End { kBytesInUse, kFixed };
  enum class Width { kU16Signed, kU32 };
  End end = End::kFixed;
  uint32_t fixedEnd = 8192;     // with End::kFixed
  Width width = Width::kU32;
  bool stopAtZeroType = false;
  bool stopAtFill = false;          // type 0xFDFDFDFD
  bool stopAtFillAndAbove = false;  // any type >= 0xFDFDFDFD

  // Record processing of the deleted-file scan.
  static WalkRule DeletedScan();
  // The ancestor walk of the deleted-file scan (and record processing of the record search).
  static WalkRule Ancestors();
  // Run look-up and data size: 8 KiB bound, u32 lengths, stop at the end marker only.
  static WalkRule RunLookup();
  // Resident data: as RunLookup, also stopping at 0xFDFDFDFD.
  static WalkRule ResidentData();
  // Bounded by the record size (the record search's run look-up).
  static WalkRule RecordBounded(uint32_t recordSize, bool stopAtFill);
};

// Yields the attributes of `record` from its first-attribute offset. The walk
// ends at the end bound (clipped to the buffer), at a stop marker, at a zero or
// non-advancing length, and at an attribute whose header or extent would pass
// the end of the buffer.
class AttributeWalk {
 public:
  AttributeWalk(ByteReader record, const WalkRule& rule);
  AttributeWalk(ByteReader record, const WalkRule& rule, size_t start);
  bool Next(AttributeView& out);

 private:
  ByteReader record_;
  WalkRule rule_;
  size_t pos_;
  size_t end_;
  bool done_ = false;
};

// The first attribute of `type` under `rule`; false when there is none.
bool FindAttribute(ByteReader record, const WalkRule& rule, uint32_t type, AttributeView& out);

}  // namespace nuvarin
