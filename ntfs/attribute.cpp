#include "ntfs/attribute.h"

#include <algorithm>

#include "ntfs/mft_record.h"

namespace nuvarin {

namespace {
constexpr size_t kMinAttributeHeader = 0x10;
}

WalkRule WalkRule::DeletedScan() {
  WalkRule r;
  r.end = End::kBytesInUse;
  r.width = Width::kU16Signed;
  r.stopAtZeroType = true;
  r.stopAtFillAndAbove = true;
  return r;
}

WalkRule WalkRule::Ancestors() {
  WalkRule r;
  r.end = End::kBytesInUse;
  r.width = Width::kU16Signed;
  r.stopAtZeroType = true;
  r.stopAtFill = true;
  return r;
}

WalkRule WalkRule::RunLookup() { return WalkRule{}; }

WalkRule WalkRule::ResidentData() {
  WalkRule r;
  r.stopAtFill = true;
  return r;
}

WalkRule WalkRule::RecordBounded(uint32_t recordSize, bool stopAtFill) {
  WalkRule r;
  r.fixedEnd = recordSize;
  r.stopAtFill = stopAtFill;
  return r;
}

AttributeWalk::AttributeWalk(ByteReader record, const WalkRule& rule)
    : AttributeWalk(record, rule, MftRecordHeader::FirstAttribute(record)) {}

AttributeWalk::AttributeWalk(ByteReader record, const WalkRule& rule, size_t start)
    : record_(record), rule_(rule), pos_(start) {
  size_t bound = rule.end == WalkRule::End::kBytesInUse ? MftRecordHeader::BytesInUse(record) : rule.fixedEnd;
  end_ = std::min(bound, record.size());
}

bool AttributeWalk::Next(AttributeView& out) {
  if (done_) return false;
  done_ = true;
  if (pos_ >= end_ || !record_.has(pos_, kMinAttributeHeader)) return false;
  uint32_t type = record_.le32(pos_);
  if (type == kAttrEnd) return false;
  if (rule_.stopAtZeroType && type == 0) return false;
  if (rule_.stopAtFill && type == kAttrFill) return false;
  if (rule_.stopAtFillAndAbove && type >= kAttrFill) return false;
  int64_t length;
  if (rule_.width == WalkRule::Width::kU16Signed)
    length = static_cast<int16_t>(record_.le16(pos_ + 4));
  else
    length = record_.le32(pos_ + 4);
  // A step that does not reach past the header cannot hold an attribute and would not advance.
  if (length < static_cast<int64_t>(kMinAttributeHeader)) return false;
  auto extent = record_.sub(pos_, static_cast<size_t>(length));
  if (!extent) return false;
  out.offset = pos_;
  out.type = type;
  out.length = static_cast<uint32_t>(length);
  out.bytes = *extent;
  pos_ += static_cast<size_t>(length);
  done_ = false;
  return true;
}

bool FindAttribute(ByteReader record, const WalkRule& rule, uint32_t type, AttributeView& out) {
  AttributeWalk walk(record, rule);
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == type) {
      out = a;
      return true;
    }
  }
  return false;
}

}  // namespace nuvarin
