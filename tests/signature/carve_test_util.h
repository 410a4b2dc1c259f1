// Helpers of the signature tests: an image file built from bytes in memory,
// and small hand-made containers (compound documents, ZIP local headers).
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "signature/carve_state.h"
#include "storage/sector_device.h"
#include "tests/support/test_support.h"

namespace nuvarin::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline void Put(Bytes& b, size_t at, const Bytes& v) {
  if (b.size() < at + v.size()) b.resize(at + v.size());
  std::memcpy(b.data() + at, v.data(), v.size());
}
inline void Put(Bytes& b, size_t at, const std::string& s) { Put(b, at, ToBytes(s)); }
inline void PutLe16(Bytes& b, size_t at, uint16_t v) { Put(b, at, Bytes{uint8_t(v), uint8_t(v >> 8)}); }
inline void PutLe32(Bytes& b, size_t at, uint32_t v) {
  Put(b, at, Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
inline void PutLe64(Bytes& b, size_t at, uint64_t v) {
  PutLe32(b, at, uint32_t(v));
  PutLe32(b, at + 4, uint32_t(v >> 32));
}
inline void PutBe16(Bytes& b, size_t at, uint16_t v) { Put(b, at, Bytes{uint8_t(v >> 8), uint8_t(v)}); }
inline void PutBe32(Bytes& b, size_t at, uint32_t v) {
  Put(b, at, Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

inline Bytes PadToSectors(Bytes b, size_t sector = 512) {
  b.resize((b.size() + sector - 1) / sector * sector);
  return b;
}

// An image file holding `bytes` (padded to whole sectors), opened as a device.
class MemoryImage {
 public:
  explicit MemoryImage(const Bytes& bytes) : dir_("carve") {
    path_ = dir_ / "image.img";
    Bytes padded = PadToSectors(bytes);
    WriteFile(path_, padded);
    OpenImageFile(path_, device_);
  }
  const SectorDevice& device() const { return device_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  TempDir dir_;
  std::filesystem::path path_;
  SectorDevice device_;
};

// A version-3 compound document: header, `dataSectors` sectors of one stream
// named `streamName` starting with `streamStart`, one FAT sector, one
// directory sector. The root entry carries `classId` (16 bytes or empty).
inline Bytes MakeCompoundDocument(const std::string& streamName, const Bytes& streamStart,
                                  uint32_t dataSectors, const Bytes& classId = {}) {
  const uint32_t k = dataSectors;
  Bytes b(512 * (k + 3), 0);
  Put(b, 0, Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
  PutLe16(b, 24, 0x3E);
  PutLe16(b, 26, 3);
  PutLe16(b, 28, 0xFFFE);
  PutLe16(b, 30, 9);
  PutLe16(b, 32, 6);
  PutLe32(b, 44, 1);
  PutLe32(b, 48, k + 1);
  PutLe32(b, 56, 4096);
  PutLe32(b, 60, 0xFFFFFFFE);
  PutLe32(b, 68, 0xFFFFFFFE);
  for (uint32_t i = 0; i < 109; ++i) PutLe32(b, 76 + 4 * i, 0xFFFFFFFF);
  PutLe32(b, 76, k);
  for (uint32_t i = 0; i < k; ++i) Put(b, 512 * (1 + i), Bytes(512, uint8_t(0x20 + i)));
  Put(b, 512, streamStart);
  size_t fat = 512 * (1 + k);
  for (uint32_t i = 0; i < 128; ++i) PutLe32(b, fat + 4 * i, 0xFFFFFFFF);
  for (uint32_t i = 0; i < k; ++i) PutLe32(b, fat + 4 * i, i + 1 == k ? 0xFFFFFFFE : i + 1);
  PutLe32(b, fat + 4 * k, 0xFFFFFFFD);
  PutLe32(b, fat + 4 * (k + 1), 0xFFFFFFFE);
  size_t dir = 512 * (2 + k);
  auto entry = [&](size_t at, const std::string& name, uint8_t type, uint32_t start, uint32_t size) {
    for (size_t i = 0; i < name.size(); ++i) PutLe16(b, at + 2 * i, uint8_t(name[i]));
    PutLe16(b, at + 64, uint16_t(2 * (name.size() + 1)));
    b[at + 66] = type;
    PutLe32(b, at + 68, 0xFFFFFFFF);
    PutLe32(b, at + 72, 0xFFFFFFFF);
    PutLe32(b, at + 76, 0xFFFFFFFF);
    PutLe32(b, at + 116, start);
    PutLe32(b, at + 120, size);
  };
  entry(dir, "Root Entry", 5, 0xFFFFFFFE, 0);
  if (!classId.empty()) Put(b, dir + 80, classId);
  entry(dir + 128, streamName, 2, 0, 512 * k);
  PutLe32(b, dir + 76, 1);  // root's child
  return b;
}

// A ZIP local file header for `name` with `data` stored.
inline Bytes ZipLocal(const std::string& name, const Bytes& data = {}) {
  Bytes b(30, 0);
  Put(b, 0, Bytes{'P', 'K', 3, 4});
  PutLe16(b, 4, 20);
  PutLe32(b, 18, uint32_t(data.size()));
  PutLe32(b, 22, uint32_t(data.size()));
  PutLe16(b, 26, uint16_t(name.size()));
  Put(b, 30, name);
  Put(b, b.size(), data);
  return b;
}

}  // namespace nuvarin::test
