// Builds 32-byte FAT directory entries for the tests.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace nuvarin::test {

constexpr uint16_t FatDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t FatTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

struct RawEntry {
  std::array<uint8_t, 32> b{};

  // `name11` is the 11 name bytes exactly as on disk.
  static RawEntry Short(const std::string& name11, uint8_t attr, uint32_t cluster, uint32_t size,
                        uint16_t date = FatDate(2020, 5, 17), uint16_t time = FatTime(10, 30, 20)) {
    RawEntry e;
    for (size_t i = 0; i < 11; ++i) e.b[i] = i < name11.size() ? static_cast<uint8_t>(name11[i]) : ' ';
    e.b[11] = attr;
    e.SetLe16(14, time);
    e.SetLe16(16, date);
    e.SetLe16(18, date);
    e.SetLe16(20, static_cast<uint16_t>(cluster >> 16));
    e.SetLe16(22, time);
    e.SetLe16(24, date);
    e.SetLe16(26, static_cast<uint16_t>(cluster & 0xFFFF));
    e.SetLe32(28, size);
    return e;
  }
  // One long-name part: sequence byte and 13 UTF-16 characters (NUL then 0xFFFF padding).
  static RawEntry Long(uint8_t sequence, const std::u16string& part, uint8_t checksum) {
    static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    RawEntry e;
    e.b[0] = sequence;
    e.b[11] = 0x0F;
    e.b[13] = checksum;
    for (size_t i = 0; i < 13; ++i) {
      uint16_t c = i < part.size() ? part[i] : (i == part.size() ? 0 : 0xFFFF);
      e.SetLe16(kOffsets[i], c);
    }
    return e;
  }
  static uint8_t Checksum(const RawEntry& shortEntry) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortEntry.b[i]);
    return sum;
  }
  RawEntry& SetLe16(size_t off, uint16_t v) {
    b[off] = v & 0xFF;
    b[off + 1] = v >> 8;
    return *this;
  }
  RawEntry& SetLe32(size_t off, uint32_t v) {
    SetLe16(off, v & 0xFFFF);
    return SetLe16(off + 2, v >> 16);
  }
  RawEntry& Set(size_t off, uint8_t v) {
    b[off] = v;
    return *this;
  }
};

inline std::vector<uint8_t> Concat(std::initializer_list<RawEntry> entries, size_t padTo = 0) {
  std::vector<uint8_t> out;
  for (const RawEntry& e : entries) out.insert(out.end(), e.b.begin(), e.b.end());
  if (out.size() < padTo) out.resize(padTo, 0);
  return out;
}

}  // namespace nuvarin::test
