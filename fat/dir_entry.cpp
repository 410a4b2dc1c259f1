#include "fat/dir_entry.h"

#include "fat/entry_names.h"
#include "storage/byte_reader.h"

namespace nuvarin {
namespace {

// 1990-01-01 and 2050-01-01, the range of believable times of a live file.
const uint64_t kEarliestTime = FatDateTimeToFiletime((10 << 9) | (1 << 5) | 1, 0);
const uint64_t kLatestTime = FatDateTimeToFiletime((70 << 9) | (1 << 5) | 1, 0);

bool InTimeRange(uint64_t t) { return t >= kEarliestTime && t <= kLatestTime; }

bool ForbiddenNameByte(uint8_t b) {
  if (b < 0x20 || (b >= 'a' && b <= 'z')) return true;
  switch (b) {
    case '"': case '*': case '.': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

bool IsDirectoryWithoutSize(const ByteReader& e) {
  return (e.u8(11) & kFatAttrDirectory) != 0 && e.le32(28) == 0;
}

}  // namespace

bool IsDotPair(const uint8_t* entry, size_t available) {
  if (entry == nullptr || available < 2 * kFatEntrySize) return false;
  ByteReader e(entry, kFatEntrySize);
  ByteReader f(entry + kFatEntrySize, kFatEntrySize);
  if (e.u8(0) != '.' || !IsDirectoryWithoutSize(e)) return false;
  if (!f.equals(0, "..") || !IsDirectoryWithoutSize(f)) return false;
  return EntryTimes(e) == EntryTimes(f);
}

bool IsPlausibleEntry(const uint8_t* entry, size_t available) {
  if (entry == nullptr || available < kFatEntrySize) return false;
  if (IsDotPair(entry, available)) return true;
  ByteReader e(entry, kFatEntrySize);
  const uint8_t attr = e.u8(11);
  const uint32_t size = e.le32(28);
  const uint16_t high = e.le16(20);
  const uint16_t low = e.le16(26);
  const bool isDir = (attr & kFatAttrDirectory) != 0;
  const bool isLong = attr == kFatAttrLongName;
  const bool isLabel = attr == kFatAttrVolumeLabel;
  const bool deleted = e.u8(0) == kFatDeletedMark;

  if (!isDir && size == 0 && (high != 0 || low != 0)) return false;
  if (isLabel && (size != 0 || high != 0 || low != 0)) return false;
  if ((attr & kFatAttrVolumeLabel) && !isLabel && !isLong) return false;
  if ((attr & (kFatAttrDirectory | kFatAttrReadOnly)) == (kFatAttrDirectory | kFatAttrReadOnly)) return false;
  if (attr & 0xC0) return false;
  if (isLong && !deleted && (e.u8(0) & ~0x40) > 18) return false;
  if (!isLong && !deleted && !isDir) {
    EntryTimeValues t = EntryTimes(e);
    if (!InTimeRange(t.creation) || !InTimeRange(t.access) || !InTimeRange(t.modification)) return false;
  }
  if (!isLong && !isLabel) {
    for (size_t i = 0; i < 11; ++i) {
      if (ForbiddenNameByte(e.u8(i))) return false;
    }
  }
  if (isDir && !deleted && size != 0) return false;
  if (isLong && low != 0) return false;
  if (attr > 0x3F) return false;
  if (isLabel || isLong) return true;
  return (attr & (kFatAttrDirectory | kFatAttrArchive)) != 0;
}

namespace {

uint8_t ShortNameChecksum(const ByteReader& e) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e.u8(i));
  return sum;
}

// A sector filled with one repeated 4-byte pattern has the same words in the
// time and cluster fields of every "entry".
bool LooksLikeFillPattern(const ByteReader& e) {
  uint32_t word = e.le32(13);
  return e.le32(17) == word && e.le32(21) == word && e.le32(25) == word && e.u8(29) == e.u8(13) &&
         e.u8(30) == e.u8(14);
}

// The long-name checksum of entry `index` must be carried by the entries that follow it.
bool LongNameChainHolds(const ByteReader& buffer, size_t index, size_t count) {
  const uint8_t checksum = buffer.u8(index * kFatEntrySize + 13);
  for (size_t j = index + 1, seen = 0; j < count && seen < 18; ++j, ++seen) {
    size_t off = j * kFatEntrySize;
    if (!IsPlausibleEntry(buffer.data() + off, buffer.size() - off)) return false;
    ByteReader f = buffer.from(off);
    if (f.u8(11) == kFatAttrLongName) {
      if (f.u8(13) != checksum) return false;
      continue;
    }
    if (f.u8(0) == kFatDeletedMark) return true;
    return ShortNameChecksum(f) == checksum;
  }
  return true;
}

bool ShortEntryNameHolds(const ByteReader& e) {
  const uint8_t attr = e.u8(11);
  if (attr != kFatAttrVolumeLabel && EntryTimes(e).creation == 0) return false;
  for (size_t i = 0; i < 11; ++i) {
    uint8_t b = e.u8(i);
    if (b < 0x20 || b == '.') return false;
  }
  // Padding spaces only at the end of the base and of the extension.
  auto paddedOnlyAtEnd = [&](size_t from, size_t to) {
    bool space = false;
    for (size_t i = from; i < to; ++i) {
      if (e.u8(i) == ' ') {
        space = true;
      } else if (space) {
        return false;
      }
    }
    return true;
  };
  if (!paddedOnlyAtEnd(0, 8) || !paddedOnlyAtEnd(8, 11)) return false;
  // Double-byte characters come in pairs of high-bit bytes.
  size_t i = e.u8(0) == kFatDeletedMark ? 1 : 0;
  while (i <= 9) {
    if (e.u8(i) & 0x80) {
      if (!(e.u8(i + 1) & 0x80)) return false;
      i += 2;
    } else {
      ++i;
    }
  }
  return true;
}

}  // namespace

bool LooksLikeDirectorySector(const uint8_t* buffer, size_t length) {
  if (length < kFatEntrySize) return true;
  if (buffer == nullptr) return false;
  ByteReader all(buffer, length);
  const size_t count = length / kFatEntrySize;
  for (size_t i = 0; i < count; ++i) {
    const size_t off = i * kFatEntrySize;
    ByteReader e = all.from(off);
    if (e.u8(0) == 0) {
      if (i == 0) return false;
      for (size_t k = off; k < length; ++k) {
        if (buffer[k] != 0) return false;
      }
      return true;
    }
    if (!IsPlausibleEntry(buffer + off, length - off)) return false;
    if (LooksLikeFillPattern(e)) return false;
    if (e.u8(11) == kFatAttrLongName) {
      if (!LongNameChainHolds(all, i, count)) return false;
    } else if (!ShortEntryNameHolds(e)) {
      return false;
    }
  }
  return true;
}

}  // namespace nuvarin
