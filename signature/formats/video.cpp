// Video containers: MPEG program and elementary streams, ISO media (MP4, 3GP,
// QuickTime), RealMedia, ASF, Flash, AVI, FLV, Matroska, MXF; and the RIFF
// length shared with WAV.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {
namespace {

constexpr uint8_t kPackStart[] = {0, 0, 1, 0xBA};
constexpr uint8_t kSystemHeader[] = {0, 0, 1, 0xBB};
constexpr uint8_t kSequenceHeader[] = {0, 0, 1, 0xB3};
constexpr uint8_t kGroupStart[] = {0, 0, 1, 0xB8};
constexpr uint8_t kSequenceEnd[] = {0, 0, 1, 0xB7};
constexpr uint8_t kProgramEnd[] = {0, 0, 1, 0xB9};
constexpr uint8_t kAsfHeader[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfFileProperties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                          0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kMxfKey[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                               0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
constexpr uint8_t kRealIndex[] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0,
                                  0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
constexpr char kMp4Producer[] = "freeIsoMedia File Produced";

uint64_t OneSector() { return CarveState::Instance().sectorSize; }

}  // namespace

uint32_t TestMpeg(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  if (!p || n < 16) return kNoKind;
  size_t window = std::min<size_t>(n, 32);
  if (r.equals(0, kPackStart, 4) && FindBytes(p, window, 0, kSystemHeader, 4) != kNotFound) return kKindMpeg;
  if (r.equals(0, kSequenceHeader, 4) && FindBytes(p, window, 0, kGroupStart, 4) != kNotFound) return kKindMpeg;
  return kNoKind;
}

uint32_t TestMp4(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  if (!p || n < 32 || !r.equals(4, "ftyp")) return kNoKind;
  return (r.equals(8, "iso") || r.equals(8, "mp42")) ? kKindMp4 : kNoKind;
}

uint32_t TestRealMedia(const uint8_t* p, size_t n) {
  return (p && n >= 4 && ByteReader(p, n).equals(0, ".RMF")) ? kKindRm : kNoKind;
}

uint32_t TestAsf(const uint8_t* p, size_t n) {
  return (p && n >= 24 && ByteReader(p, n).equals(0, kAsfHeader, 16)) ? kKindAsf : kNoKind;
}

uint32_t TestSwf(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  if (!p || n < 8) return kNoKind;
  if (r.equals(0, "CWS") && p[3] >= 6 && p[3] <= 15) return kKindSwf;
  if (r.equals(0, "FWS") && p[3] < 6) return kKindSwf;
  return kNoKind;
}

uint32_t TestAvi(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return (p && n >= 16 && r.equals(0, "RIFF") && r.equals(8, "AVI ") && r.equals(12, "LIST")) ? kKindAvi
                                                                                             : kNoKind;
}

uint32_t TestFlv(const uint8_t* p, size_t n) {
  static const uint8_t kHeaderSize[] = {0, 0, 0, 9};
  ByteReader r(p, n);
  return (p && n >= 16 && r.equals(0, "FLV") && p[3] == 1 && r.equals(5, kHeaderSize, 4)) ? kKindFlv
                                                                                         : kNoKind;
}

uint32_t Test3gp(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return (p && n >= 32 && r.equals(4, "ftyp") && r.equals(8, "3gp")) ? kKind3gp : kNoKind;
}

uint32_t TestMkv(const uint8_t* p, size_t n) {
  static const uint8_t kEbml[] = {0x1A, 0x45, 0xDF, 0xA3};
  return (p && n >= 16 && ByteReader(p, n).equals(0, kEbml, 4)) ? kKindMkv : kNoKind;
}

uint32_t TestMxf(const uint8_t* p, size_t n) {
  return (p && n >= 16 && ByteReader(p, n).equals(0, kMxfKey, 16)) ? kKindMxf : kNoKind;
}

uint32_t TestMov(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  if (!p || n < 16) return kNoKind;
  if (r.equals(0, "moov")) return kKindMov;
  return (r.equals(4, "ftyp") && r.equals(8, "qt  ")) ? kKindMov : kNoKind;
}

uint64_t SizeMpegEndCode(const uint8_t* p, size_t n, uint64_t cap) {
  const uint8_t* marker = ByteReader(p, n).equals(0, kSequenceHeader, 4) ? kSequenceEnd : kProgramEnd;
  const uint32_t ss = CarveState::Instance().sectorSize;
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    for (size_t at = FindBytes(c.data, c.searchEnd, 0, marker, 4); at != kNotFound;
         at = FindBytes(c.data, c.searchEnd, at + 1, marker, 4)) {
      if (IsValidEndMarker(c.data, c.searchEnd, at + 4, ss)) {
        length = c.before + at + 4;
        return true;
      }
    }
    return false;
  });
}

uint64_t SizeMp4Producer(const uint8_t* p, size_t n, uint64_t cap) {
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    const size_t textLength = sizeof(kMp4Producer) - 1;
    size_t at = FindBytes(c.data, c.searchEnd, 0, kMp4Producer, textLength);
    if (at == kNotFound) return false;
    size_t end = at + textLength;
    while (end < c.searchEnd && c.data[end] != 0) ++end;
    length = c.before + end;
    return true;
  });
}

uint64_t SizeRealMediaIndex(const uint8_t* p, size_t n, uint64_t cap) {
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    size_t at = FindBytes(c.data, c.searchEnd, 0, kRealIndex, sizeof(kRealIndex));
    if (at == kNotFound) return false;
    length = c.before + at + sizeof(kRealIndex);
    return true;
  });
}

uint64_t SizeAsf(const uint8_t* p, size_t n, uint64_t cap) {
  ByteReader r(p, n);
  size_t at = FindBytes(p, n, 30, kAsfFileProperties, sizeof(kAsfFileProperties));
  // The file-properties object must lie in the sector up to its flags field.
  if (at == kNotFound || !r.has(at, 92)) return OneSector();
  if (r.le32(at + 88) & 1) return OneSector();  // broadcast: the size field is not valid
  uint64_t size = r.le64(at + 40);
  if (size == 0) return OneSector();
  return std::min(size, cap);
}

uint64_t SizeSwf(const uint8_t* p, size_t n, uint64_t cap) {
  if (p && n >= 8 && p[0] == 'F') return std::min<uint64_t>(ByteReader(p, n).le32(4), cap);
  return OneSector();
}

uint64_t SizeRiff(const uint8_t* p, size_t n, uint64_t cap) {
  if (!p || n < 16) return OneSector();
  return static_cast<uint64_t>(ByteReader(p, n).le32(4)) + 8;
}

}  // namespace nuvarin::formats
