// The shared machinery of the size rules: the chunked forward read that every
// "reads on" rule uses, the stop-sector test, the file-system sector test, the
// valid-end-marker rule and small byte searches.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "signature/carve_state.h"

namespace nuvarin {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// First occurrence of `pattern` in [from, size) of `data`; kNotFound when none.
size_t FindBytes(const uint8_t* data, size_t size, size_t from, const void* pattern, size_t length);
// Last occurrence of `pattern` in `data`; kNotFound when none.
size_t FindLastBytes(const uint8_t* data, size_t size, const void* pattern, size_t length);

// A marker ending at `endOffset` of a sector-aligned buffer is a valid end when
// it ends on a sector boundary or only zeros follow it to the end of its sector.
bool IsValidEndMarker(const uint8_t* data, size_t size, size_t endOffset, uint32_t sectorSize);

// Sectors that begin something else: an NTFS record or restart page, the NTFS
// attribute table, a boot sector, a FAT directory sector.
bool IsFileSystemSector(const uint8_t* sector, size_t length);
// The stop-sector test for one sector: a header of any catalogue kind (while an
// MPEG file is sized, an MPEG header does not count) or a file-system sector.
// The caller has moved cursorSector to the sector.
bool IsStopSector(const uint8_t* sector, size_t length);
// Runs IsStopSector over `sectors` sectors of a chunk, advancing cursorSector
// by one per sector tested; the index of the first stop sector, or kNotFound.
size_t FindStopSector(const uint8_t* chunk, size_t sectors);

// Reads `length` bytes at byte `offset` of the candidate file (counted from
// the start of fileStart) into `out`; false on a failed read.
bool ReadFileBytes(uint64_t offset, size_t length, uint8_t* out);

// One chunk of the forward read, as a rule's search sees it.
struct Chunk {
  const uint8_t* data;
  size_t size;      // bytes in the chunk (whole sectors)
  uint64_t before;  // bytes of the file before the chunk
  bool stopped;     // a stop sector lies in the chunk
  uint64_t length;  // the running length after the stop-sector test
  // Where an end-marker search of this file stops: the stop sector of a
  // stopped chunk (what lies behind it belongs to another file), else the size.
  size_t searchEnd;
};

// The common chunked frame. `search(chunk, length)` returns true when the rule
// has ended, with the file's length in `length`. Returns the rule's length, or
// the running length when reading stopped (stop sector, cap, failed read,
// cancel, end of the device).
template <class Search>
uint64_t ReadOn(uint64_t cap, Search&& search) {
  CarveState& st = CarveState::Instance();
  const uint32_t ss = st.sectorSize;
  uint64_t length = ss;
  uint64_t before = ss;
  uint64_t budget = cap / ss;
  uint64_t next = st.fileStart + 1;
  uint64_t readSoFar = 0;
  const uint64_t perChunk = std::max<uint64_t>(1, st.WorkBufferSize() / ss);
  uint8_t* buffer = st.WorkBuffer();
  while (budget > 0 && st.device != nullptr) {
    // Near the end of the source the last chunk is cut to what the source holds.
    if (next >= st.device->sectorCount) break;
    uint64_t n = std::min({perChunk, budget, st.device->sectorCount - next});
    if (!st.ReadDeviceSectors(next, n, buffer)) break;
    readSoFar += n;
    if (st.ReportProgress(readSoFar) != 0) break;
    Chunk chunk{buffer, static_cast<size_t>(n * ss), before, false, length, static_cast<size_t>(n * ss)};
    size_t stop = FindStopSector(buffer, static_cast<size_t>(n));
    if (stop != kNotFound) {
      length += static_cast<uint64_t>(stop) * ss;
      chunk.stopped = true;
      chunk.length = length;
      chunk.searchEnd = stop * ss;
    }
    uint64_t ruleLength = 0;
    if (search(chunk, ruleLength)) return ruleLength;
    if (chunk.stopped) break;
    length += n * ss;
    before += n * ss;
    budget -= n;
    next += n;
  }
  return length;
}

// ReadOn with no search of its own: everything up to the first stop sector.
uint64_t RunToStopSector(const uint8_t* sector, size_t length, uint64_t cap);

}  // namespace nuvarin
