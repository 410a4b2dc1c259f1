// Searches in a cluster allocation bitmap (bit i = cluster i, least
// significant bit first, 1 = in use), shared by the engines' free-extent walks.
#pragma once
#include <cstdint>
#include <cstring>

namespace nuvarin {

inline bool BitSet(const uint8_t* bits, uint64_t index) { return (bits[index >> 3] >> (index & 7)) & 1; }

// First index in [from, limit) whose bit equals `value`; `limit` when none.
// Reads only the bytes that hold bits below `limit`.
inline uint64_t FindBit(const uint8_t* bits, uint64_t from, uint64_t limit, bool value) {
  const uint8_t skip = value ? 0x00 : 0xFF;  // bytes that cannot hold the wanted bit
  uint64_t i = from;
  while (i < limit && (i & 7) != 0) {
    if (BitSet(bits, i) == value) return i;
    ++i;
  }
  // Whole bytes, eight at a time where possible.
  const uint64_t skipWord = value ? 0 : ~0ull;
  while (i + 64 <= limit) {
    uint64_t word;
    std::memcpy(&word, bits + (i >> 3), 8);
    if (word != skipWord) break;
    i += 64;
  }
  while (i + 8 <= limit && bits[i >> 3] == skip) i += 8;
  for (; i < limit; ++i) {
    if (BitSet(bits, i) == value) return i;
  }
  return limit;
}

}  // namespace nuvarin
