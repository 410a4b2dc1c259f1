#include "signature/carve_harness.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "platform/error_codes.h"

namespace nuvarin {

int32_t SweepArea(CFileTypeRecovery& engine, uint64_t firstSector, uint64_t sectorCount, SweepStats& stats,
                  const SweepObserver& onItem) {
  const SectorDevice& device = engine.Device();
  const uint32_t ss = device.bytesPerSector ? device.bytesPerSector : 512;
  const uint64_t perBuffer = std::max<uint64_t>(1, kReadPieceBytes / ss);
  std::vector<uint8_t> buffer(static_cast<size_t>(perBuffer * ss));
  const uint64_t end = std::min(firstSector + sectorCount, device.sectorCount);
  const uint64_t startTicks = platform::TickMs();
  int32_t result = kOk;
  uint64_t found = stats.itemsFound;
  uint64_t pos = firstSector;
  while (pos < end) {
    uint64_t n = std::min(perBuffer, end - pos);
    uint64_t got = 0;
    ReadSectors(n, device, buffer.data(), pos, ss, got);
    if (got == 0) {  // an unreadable buffer is skipped whole
      ++stats.failedReads;
      pos += n;
      continue;
    }
    uint64_t s = 0;
    while (s < got) {
      uint64_t skip = 1;
      uint64_t before = found;
      int32_t rc = engine.CarveAt(ss, buffer.data() + s * ss, ss, device, pos + s, pos + s - firstSector,
                                  sectorCount, -1, found, skip);
      ++stats.sectorsOffered;
      if (rc == kCancelCode) {
        result = rc;
        break;
      }
      if (found != before) {
        stats.bytesCarved += engine.LastHit().length;
        if (onItem) onItem(engine.LastHit(), pos + s);
      }
      s += std::max<uint64_t>(skip, 1);
    }
    if (result != kOk) {
      pos += s;
      break;
    }
    pos += s;  // a skip past the buffer carries over into the next one
  }
  stats.itemsFound = found;
  stats.sectorsSwept += std::min(pos, end) - firstSector;
  stats.elapsedMs += platform::TickMs() - startTicks;
  return result;
}

}  // namespace nuvarin
