// The 32-byte FAT directory entry and the plausibility tests shared by the
// directory scans, the directory search and the carver's stop-sector test.
#pragma once
#include <cstddef>
#include <cstdint>

namespace nuvarin {

// `entry` points at a 32-byte entry; `available` is the number of bytes
// readable from `entry` (the dot-pair test looks at the next 32 bytes only when
// available >= 64). Fewer than 32 bytes: false.
bool IsPlausibleEntry(const uint8_t* entry, size_t available);
// "." and ".." directory entries with equal times, at entry and entry + 32.
bool IsDotPair(const uint8_t* entry, size_t available);
// Whether a buffer of whole entries looks like a directory cluster's sector.
bool LooksLikeDirectorySector(const uint8_t* buffer, size_t length);

}  // namespace nuvarin
