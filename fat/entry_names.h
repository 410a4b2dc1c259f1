// Names and time stamps of 32-byte FAT directory entries: the 8.3 short name,
// the long name collected from its 0x0F parts, and the three entry times.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "storage/byte_reader.h"

namespace nuvarin {

constexpr size_t kFatEntrySize = 32;
constexpr uint8_t kFatDeletedMark = 0xE5;
constexpr uint8_t kFatAttrReadOnly = 0x01;
constexpr uint8_t kFatAttrVolumeLabel = 0x08;
constexpr uint8_t kFatAttrDirectory = 0x10;
constexpr uint8_t kFatAttrArchive = 0x20;
constexpr uint8_t kFatAttrLongName = 0x0F;

// FILETIME (100 ns units since 1601-01-01) of a FAT date and time word, read
// as UTC. An impossible date or time gives 0.
uint64_t FatDateTimeToFiletime(uint16_t date, uint16_t time, uint32_t milliseconds = 0);

struct EntryTimeValues {
  uint64_t creation = 0;
  uint64_t access = 0;
  uint64_t modification = 0;
  bool operator==(const EntryTimeValues&) const = default;
};
// The creation, last-access and last-write times of a short entry.
EntryTimeValues EntryTimes(const ByteReader& entry);

// First cluster of an entry: high word << 16 | low word on FAT32, the low word
// otherwise.
inline uint32_t EntryFirstCluster(const ByteReader& entry, bool isFat32) {
  uint32_t low = entry.le16(26);
  return isFat32 ? (static_cast<uint32_t>(entry.le16(20)) << 16) | low : low;
}

// The 8.3 name in lower case: base alone for a directory, "base.ext" for a file
// with an extension. A deleted entry's first byte becomes "!". Bytes of 0x80
// and above are read as code page 437 and given back as UTF-8.
std::string ShortName(const ByteReader& entry, bool isDirectory);

// Gathers the UTF-16 parts of a long name from the 0x0F entries that precede a
// short entry (last part first, as they lie on disk).
class LongName {
 public:
  static constexpr int kCapacity = 260;
  static constexpr int kCharsPerEntry = 13;

  // Stores one part. False when the buffer is full (the 20th part in a row),
  // which ends the directory scan.
  bool Add(const ByteReader& entry);
  bool Empty() const { return position_ == kCapacity; }
  // The collected name up to its first NUL, as UTF-8.
  std::string Text() const;
  void Reset();

 private:
  std::array<char16_t, kCapacity> chars_{};
  int position_ = kCapacity;
};

}  // namespace nuvarin
