#include "signature/carve_state.h"

#include <algorithm>

namespace nuvarin {

CarveState& CarveState::Instance() {
  static CarveState state;
  return state;
}

CarveState::CarveState() : work_(kWorkBufferBytes), scratch_(4 * 4096 + 64) {}

void CarveState::Reset() {
  tsExtents.clear();
  tsFollow = false;
  m2tsFollow = false;
  callbackResult = 0;
  sizingKind = 49;
  probeOnly = false;
}

uint8_t* CarveState::Scratch(size_t bytes) {
  if (scratch_.size() < bytes) scratch_.resize(bytes);
  return scratch_.data();
}

bool CarveState::SetSectorSize(uint32_t size) {
  if (size == 0 || size > (1u << 20)) return false;
  sectorSize = size;
  if (work_.size() < size) work_.resize(size);
  return true;
}

bool CarveState::ReadDeviceSectors(uint64_t sector, uint64_t count, uint8_t* out) const {
  if (device == nullptr || count == 0) return false;
  uint64_t got = 0;
  int32_t rc = ReadSectors(count, *device, out, sector, sectorSize, got);
  return rc == kOk && got == count;
}

int32_t CarveState::ReportProgress(uint64_t sectorsReadByRule) {
  if (progress == nullptr) return 0;
  uint64_t done = sectorsDone + sectorsReadByRule;
  int32_t percent = 10;
  if (totalSectors != 0) percent = static_cast<int32_t>(std::min<uint64_t>(done * 100 / totalSectors, 1000)) + 10;
  callbackResult = progress(progressContext, percent, progressWeight, etaSeconds, done, totalSectors,
                            itemsFound, 0);
  return callbackResult;
}

}  // namespace nuvarin
