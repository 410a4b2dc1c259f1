// Audio files: MP3 with an ID3 tag, MIDI, Monkey's-Audio-style APE, WAV,
// MPEG layer 2 and SMAF ringtones.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {

uint32_t TestMp3(const uint8_t* p, size_t n) {
  if (!p || n < 10 || !ByteReader(p, n).equals(0, "ID3")) return kNoKind;
  if (p[3] == 0xFF || p[4] == 0xFF || (p[5] & 0x1F) != 0) return kNoKind;
  for (size_t i = 6; i < 10; ++i) {
    if (p[i] >= 0x80) return kNoKind;
  }
  return kKindMp3;
}

uint32_t TestMidi(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return (p && n >= 16 && r.equals(0, "MThd") && r.be32(4) == 6 && r.equals(14, "MTrk")) ? kKindMid : kNoKind;
}

uint32_t TestApe(const uint8_t* p, size_t n) {
  return (p && n >= 4 && ByteReader(p, n).equals(0, "MAC ")) ? kKindApe : kNoKind;
}

uint32_t TestWav(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return (p && n >= 16 && r.equals(0, "RIFF") && r.equals(8, "WAVE") && r.equals(12, "fmt ")) ? kKindWav
                                                                                             : kNoKind;
}

uint32_t TestMp2(const uint8_t* p, size_t n) {
  static const uint8_t kFrame[] = {0xFF, 0xFD, 0xE4, 0x00};
  return (p && n >= 4 && ByteReader(p, n).equals(0, kFrame, 4)) ? kKindMp2 : kNoKind;
}

uint32_t TestMmf(const uint8_t* p, size_t n) {
  return (p && n >= 4 && ByteReader(p, n).equals(0, "MMMD")) ? kKindMmf : kNoKind;
}

uint64_t SizeId3v1(const uint8_t* p, size_t n, uint64_t cap) {
  bool haveCandidate = false;
  uint64_t candidate = 0;
  uint64_t length = ReadOn(cap, [&](const Chunk& c, uint64_t&) {
    size_t at = FindBytes(c.data, c.searchEnd, 0, "TAG", 3);
    if (at != kNotFound) {
      haveCandidate = true;
      candidate = c.before + at + 128;
    }
    return false;
  });
  return (haveCandidate && candidate < length) ? candidate : length;
}

uint64_t SizeApeTag(const uint8_t* p, size_t n, uint64_t cap) {
  static const uint8_t kTagHeader[] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    size_t first = FindBytes(c.data, c.searchEnd, 0, kTagHeader, sizeof(kTagHeader));
    if (first == kNotFound) return false;
    size_t second = FindBytes(c.data, c.searchEnd, first + 1, kTagHeader, sizeof(kTagHeader));
    length = second != kNotFound ? c.before + second + 32 : c.before + c.searchEnd;
    return true;
  });
}

uint64_t SizeMidi(const uint8_t* p, size_t n, uint64_t cap) {
  ByteReader first(p, n);
  const uint32_t tracks = first.be16(10);
  uint64_t running = 14;
  uint32_t counted = 0;
  // Counts the track markers of one buffer from `from`; true once all are counted.
  auto count = [&](const uint8_t* data, size_t size, size_t from) {
    ByteReader r(data, size);
    for (size_t at = FindBytes(data, size, from, "MTrk", 4); counted < tracks && at != kNotFound;
         at = FindBytes(data, size, at + 4, "MTrk", 4)) {
      running += 8 + static_cast<uint64_t>(r.be32(at + 4));
      ++counted;
    }
    return counted >= tracks;
  };
  const uint64_t ss = CarveState::Instance().sectorSize;
  // The file ends at the running track length once every track is counted and
  // the read has reached that far.
  if (count(p, n, 14) && running <= ss) return running;
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    if (counted < tracks) count(c.data, c.searchEnd, 0);
    if (counted < tracks) return false;
    uint64_t reach = c.stopped ? c.length : c.before + c.searchEnd;
    if (running <= reach) {
      length = running;
      return true;
    }
    return false;
  });
}

}  // namespace nuvarin::formats
