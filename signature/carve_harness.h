// The sweep that drives CarveAt the way the deep scan does: the area read in
// 64 KiB buffers, every sector offered in turn, and the sectors CarveAt says
// to skip passed over, also across buffer boundaries. Used by bench_carve and
// the tests until the deep scan drives the carver itself.
#pragma once
#include <cstdint>
#include <functional>

#include "signature/file_type_recovery.h"

namespace nuvarin {

struct SweepStats {
  uint64_t sectorsSwept = 0;  // sectors of the area covered (offered or skipped)
  uint64_t sectorsOffered = 0;
  uint64_t itemsFound = 0;
  uint64_t bytesCarved = 0;  // sum of the carved lengths
  uint64_t failedReads = 0;
  uint64_t elapsedMs = 0;
};

// Sweeps `sectorCount` sectors from `firstSector` of the engine's device.
// 0, or -9527 when the progress callback cancelled during sizing.
// `onItem`, when set, sees every carved file with its first sector.
using SweepObserver = std::function<void(const CarveHit& hit, uint64_t sector)>;
int32_t SweepArea(CFileTypeRecovery& engine, uint64_t firstSector, uint64_t sectorCount, SweepStats& stats,
                  const SweepObserver& onItem = {});

}  // namespace nuvarin
