// Pictures: GIF, BMP, JPEG, PNG, Photoshop, TIFF and icon files.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {
namespace {

// The end-marker search of GIF and PNG: the first valid occurrence in the
// first sector, else the first valid occurrence in a chunk read on.
uint64_t SizeByTrailer(const uint8_t* p, size_t n, uint64_t cap, const uint8_t* marker, size_t markerLength) {
  const uint32_t ss = CarveState::Instance().sectorSize;
  for (size_t at = FindBytes(p, n, 0, marker, markerLength); at != kNotFound;
       at = FindBytes(p, n, at + 1, marker, markerLength)) {
    if (IsValidEndMarker(p, n, at + markerLength, ss)) return at + markerLength;
  }
  // The trailer search covers the whole chunk, even behind a stop sector.
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    for (size_t at = FindBytes(c.data, c.size, 0, marker, markerLength); at != kNotFound;
         at = FindBytes(c.data, c.size, at + 1, marker, markerLength)) {
      if (IsValidEndMarker(c.data, c.size, at + markerLength, ss)) {
        length = c.before + at + markerLength;
        return true;
      }
    }
    return false;
  });
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace

uint32_t TestGif(const uint8_t* p, size_t n) {
  if (!p || n < 8 || !ByteReader(p, n).equals(0, "GIF")) return kNoKind;
  return (IsDigit(p[3]) && IsDigit(p[4]) && p[5] >= 'a' && p[5] <= 'z') ? kKindGif : kNoKind;
}

uint32_t TestBmp(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  if (!p || n < 40 || !(r.equals(0, "BM") || r.equals(0, "BA"))) return kNoKind;
  return (r.le16(6) == 0 && r.le16(8) == 0 && r.le32(14) == 40) ? kKindBmp : kNoKind;
}

uint32_t TestJpeg(const uint8_t* p, size_t n) {
  static const uint8_t kJfif[] = {0xFF, 0xD8, 0xFF, 0xE0};
  static const uint8_t kExif[] = {0xFF, 0xD8, 0xFF, 0xE1};
  ByteReader r(p, n);
  if (!p || n < 16) return kNoKind;
  if (r.equals(0, kJfif, 4) && r.equals(6, "JFIF")) return kKindJpg;
  if (r.equals(0, kExif, 4) && r.equals(6, "Exif")) return kKindJpg;
  return kNoKind;
}

uint32_t TestPng(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return (p && n >= 8 && ByteReader(p, n).equals(0, kMagic, 8)) ? kKindPng : kNoKind;
}

uint32_t TestPsd(const uint8_t* p, size_t n) {
  return (p && n >= 40 && ByteReader(p, n).equals(0, "8BPS")) ? kKindPsd : kNoKind;
}

uint32_t TestTiff(const uint8_t* p, size_t n) {
  static const uint8_t kBig[] = {'M', 'M', 0x00, 0x2A};
  static const uint8_t kLittle[] = {'I', 'I', 0x2A, 0x00};
  ByteReader r(p, n);
  return (p && n >= 4 && (r.equals(0, kBig, 4) || r.equals(0, kLittle, 4))) ? kKindTif : kNoKind;
}

uint32_t TestIco(const uint8_t* p, size_t n) {
  static const uint8_t kMagic[] = {0, 0, 1, 0};
  ByteReader r(p, n);
  if (!p || n < 16 || !r.equals(0, kMagic, 4)) return kNoKind;
  const uint32_t count = r.le16(4);
  if (count == 0 || 6 + 16 * static_cast<uint64_t>(count) > n) return kNoKind;
  uint64_t expected = 6 + 16 * static_cast<uint64_t>(count);
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = 6 + 16 * static_cast<size_t>(i);
    if (p[entry + 3] != 0 || r.le32(entry + 12) != expected) return kNoKind;
    expected += r.le32(entry + 8);
  }
  return kKindIco;
}

uint64_t SizeGif(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kTrailer[] = {0x00, 0x3B};
  return SizeByTrailer(p, n, cap, kTrailer, sizeof(kTrailer));
}

uint64_t SizePng(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kIend[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return SizeByTrailer(p, n, cap, kIend, sizeof(kIend));
}

uint64_t SizeJpeg(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kEnd[] = {0xFF, 0xD9};
  const uint32_t ss = CarveState::Instance().sectorSize;
  size_t first = FindBytes(p, n, 0, kEnd, 2);
  if (first != kNotFound && IsValidEndMarker(p, n, first + 2, ss)) return first + 2;
  bool haveCandidate = false;
  uint64_t candidate = 0;
  uint64_t length = ReadOn(cap, [&](const Chunk& c, uint64_t&) {
    size_t at = FindBytes(c.data, c.searchEnd, 0, kEnd, 2);
    if (at != kNotFound && IsValidEndMarker(c.data, c.size, at + 2, ss)) {
      haveCandidate = true;
      candidate = c.before + at + 2;
    }
    return false;
  });
  return (haveCandidate && candidate < length) ? candidate : length;
}

uint64_t SizeBmp(const uint8_t* p, size_t n, uint64_t cap) {
  return std::min<uint64_t>(ByteReader(p, n).le32(2), cap);
}

uint64_t SizeIco(const uint8_t* p, size_t n, uint64_t cap) {
  const uint32_t count = ByteReader(p, n).le16(4);
  if (count == 0) return 0;
  auto lastImageEnd = [count](ByteReader r) {
    size_t entry = 6 + 16 * static_cast<size_t>(count - 1);
    return static_cast<uint64_t>(r.le32(entry + 12)) + r.le32(entry + 8);
  };
  if (n >= 16 * static_cast<uint64_t>(count) + 6) return lastImageEnd(ByteReader(p, n));
  CarveState& st = CarveState::Instance();
  const size_t want = static_cast<size_t>(std::min<uint64_t>(cap, st.WorkBufferSize()));
  if (!ReadFileBytes(0, want, st.WorkBuffer())) return st.sectorSize;
  return lastImageEnd(ByteReader(st.WorkBuffer(), want));
}

}  // namespace nuvarin::formats
