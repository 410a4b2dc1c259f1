// MPEG transport streams (188-byte packets) and M2TS streams (192-byte packets
// with a time code). A stream that continues an earlier one, or lies inside a
// stream already carved, is not a new file.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {
namespace {

constexpr size_t kPacket = 188;
constexpr uint8_t kSync = 0x47;
constexpr size_t kProbeBytes = 4096;
constexpr size_t kProbePackets = 22;

bool ContinuesEarlierStream(CarveState& st) {
  const uint32_t ss = st.sectorSize;
  if (st.cursorSector == 0) return true;  // no sector before: the read fails
  uint8_t* prev = st.Scratch(ss);
  if (!st.ReadDeviceSectors(st.cursorSector - 1, 1, prev)) return true;
  for (size_t k = 1; k <= ss / kPacket; ++k) {
    if (prev[ss - kPacket * k] == kSync) return true;
  }
  // The sweep moves forward, so extents that end before this candidate can
  // never hold a later one: dropping them keeps the list to the streams around
  // the sweep's position, however many a disk holds.
  size_t ended = 0;
  while (ended < st.tsExtents.size() && st.tsExtents[ended].last < st.fileStart) ++ended;
  st.tsExtents.erase(st.tsExtents.begin(), st.tsExtents.begin() + static_cast<std::ptrdiff_t>(ended));
  for (const TsExtent& e : st.tsExtents) {
    if (e.first <= st.fileStart && st.fileStart <= e.last) return true;
  }
  return false;
}

}  // namespace

uint32_t TestTransportStream(const uint8_t* p, size_t n) {
  if (!p || n < kPacket || p[0] != kSync || (p[1] == 0 && p[2] == 0 && p[3] == 0)) return kNoKind;
  for (size_t at = kPacket; at < n; at += kPacket) {
    if (p[at] != kSync) return kNoKind;
  }
  CarveState& st = CarveState::Instance();
  const uint32_t ss = st.sectorSize;
  uint64_t sectors = (kProbeBytes + ss - 1) / ss;
  uint8_t* probe = st.Scratch(static_cast<size_t>(sectors) * ss);
  if (!st.ReadDeviceSectors(st.cursorSector, sectors, probe)) return kNoKind;
  for (size_t i = 0; i < kProbePackets; ++i) {
    if (probe[i * kPacket] != kSync) return kNoKind;
  }
  if (st.tsFollow && ContinuesEarlierStream(st)) return kNoKind;
  return kKindTs;
}

uint32_t TestM2ts(const uint8_t* p, size_t n) {
  static const uint8_t kAssociation[] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
  ByteReader r(p, n);
  if (!p || n < 16 || !r.equals(8, kAssociation, sizeof(kAssociation))) return kNoKind;
  if (CarveState::Instance().m2tsFollow && r.le32(0) != 0) return kNoKind;
  return kKindMts;
}

uint64_t SizeTransportStream(const uint8_t* p, size_t n, uint64_t cap) {
  CarveState& st = CarveState::Instance();
  const uint32_t ss = st.sectorSize;
  uint64_t run = kPacket * (ss / kPacket);  // packets that start in the first sector
  uint64_t nextPacket = run;                // file offset of the next packet not yet counted
  bool broken = false;
  uint64_t length = ReadOn(cap, [&](const Chunk& c, uint64_t& out) {
    const uint64_t chunkEnd = c.before + c.size;
    if (nextPacket < c.before) {  // the packet that straddles into this chunk
      run += kPacket;
      nextPacket += kPacket;
    }
    while (nextPacket + kPacket <= chunkEnd) {
      if (c.data[nextPacket - c.before] != kSync) {
        broken = true;
        break;
      }
      run += kPacket;
      nextPacket += kPacket;
    }
    if (!broken) return false;
    // The run is over for good; what follows cannot lengthen the file.
    out = c.stopped ? std::min(run, c.length) : run;
    return true;
  });
  if (run != 0 && run < length) length = run;
  uint64_t sectors = (length + ss - 1) / ss;
  st.tsExtents.push_back({st.fileStart, st.fileStart + (sectors ? sectors - 1 : 0)});
  return length;
}

}  // namespace nuvarin::formats
