#include "ntfs/run_list.h"

namespace nuvarin {

size_t DecodeRunList(const AttributeView& attribute, std::vector<DataRun>& out) {
  const ByteReader& r = attribute.bytes;
  size_t pos = attribute.RunListOffset();
  const size_t end = r.size();
  size_t added = 0;
  // Every element takes at least one byte, so the loop ends within the attribute.
  while (pos < end && out.size() < kMaxRunsPerStream) {
    uint8_t header = r.u8(pos);
    if (header == 0) break;
    size_t lengthWidth = header & 0x0F;
    size_t offsetWidth = header >> 4;
    if (lengthWidth > 7 || offsetWidth > 7) break;
    if (!r.has(pos + 1, lengthWidth + offsetWidth)) break;
    DataRun run;
    run.clusterCount = static_cast<uint32_t>(r.leN(pos + 1, lengthWidth));
    if (offsetWidth == 0) {
      run.sparse = true;
    } else {
      run.lcnDelta = r.leSignedN(pos + 1 + lengthWidth, offsetWidth);
    }
    out.push_back(run);
    ++added;
    pos += 1 + lengthWidth + offsetWidth;
  }
  return added;
}

uint64_t TotalClusters(const std::vector<DataRun>& runs) {
  uint64_t total = 0;
  for (const DataRun& run : runs) {
    if (!CheckedAdd(total, run.clusterCount, total)) return UINT64_MAX;
  }
  return total;
}

}  // namespace nuvarin
