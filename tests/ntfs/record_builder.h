// Builds MFT file records byte by byte for the structure tests: a header, any
// attributes, the end marker, and the update sequence written the way NTFS
// stores it on disk.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace nuvarin::test {

class RecordBuilder {
 public:
  explicit RecordBuilder(uint32_t recordNumber, uint16_t flags = 0, uint32_t recordSize = 1024,
                         uint32_t bytesPerSector = 512)
      : bytes_(recordSize, 0), bps_(bytesPerSector) {
    std::memcpy(bytes_.data(), "FILE", 4);
    Put16(0x04, 0x30);
    Put16(0x06, static_cast<uint16_t>(1 + recordSize / bps_));
    Put16(0x14, 0x38);
    Put16(0x16, flags);
    Put32(0x1C, recordSize);
    Put32(0x2C, recordNumber);
    Put16(0x30, 0x0001);
    pos_ = 0x38;
  }

  // A resident attribute; the value starts at 0x18.
  RecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value) {
    uint32_t length = Align8(0x18 + static_cast<uint32_t>(value.size()));
    size_t at = Begin(type, length);
    Put32(at + 0x10, static_cast<uint32_t>(value.size()));
    Put16(at + 0x14, 0x18);
    if (!value.empty()) std::memcpy(&bytes_[at + 0x18], value.data(), value.size());
    return *this;
  }
  // A non-resident attribute with the given run-list bytes at 0x40.
  RecordBuilder& NonResident(uint32_t type, const std::vector<uint8_t>& runs, uint64_t dataSize,
                             uint64_t lowestVcn = 0, uint8_t nameLength = 0) {
    uint32_t length = Align8(0x40 + static_cast<uint32_t>(runs.size()) + 1);
    size_t at = Begin(type, length);
    bytes_[at + 0x08] = 1;
    bytes_[at + 0x09] = nameLength;
    Put64(at + 0x10, lowestVcn);
    Put16(at + 0x20, 0x40);
    Put64(at + 0x28, (dataSize + 4095) / 4096 * 4096);
    Put64(at + 0x30, dataSize);
    Put64(at + 0x38, dataSize);
    std::memcpy(&bytes_[at + 0x40], runs.data(), runs.size());
    return *this;
  }
  // A file name attribute (Win32 and DOS namespace unless said otherwise).
  RecordBuilder& FileName(uint32_t parent, const std::string& asciiName, uint64_t realSize = 0,
                          uint8_t nameSpace = 3) {
    std::vector<uint8_t> v(0x42 + 2 * asciiName.size(), 0);
    std::memcpy(v.data(), &parent, 4);
    v[0x06] = 1;  // sequence number of the parent reference
    for (int i = 0; i < 4; ++i) {
      uint64_t t = 0x01D0000000000000ull + i;
      std::memcpy(&v[0x08 + 8 * i], &t, 8);
    }
    std::memcpy(&v[0x30], &realSize, 8);
    v[0x40] = static_cast<uint8_t>(asciiName.size());
    v[0x41] = nameSpace;
    for (size_t i = 0; i < asciiName.size(); ++i) v[0x42 + 2 * i] = static_cast<uint8_t>(asciiName[i]);
    return Resident(0x30, v);
  }
  // Raw attribute bytes (for hostile headers).
  RecordBuilder& Raw(const std::vector<uint8_t>& attribute) {
    std::memcpy(&bytes_[pos_], attribute.data(), attribute.size());
    pos_ += attribute.size();
    return *this;
  }

  // Closes the record: end marker, bytesInUse, update sequence.
  std::vector<uint8_t> Build(bool protect = true) {
    Put32(pos_, 0xFFFFFFFF);
    Put32(0x18, static_cast<uint32_t>(pos_ + 8));
    std::vector<uint8_t> out = bytes_;
    if (protect) {
      for (size_t i = 0; i < out.size() / bps_; ++i) {
        size_t end = bps_ * (i + 1) - 2;
        out[0x32 + 2 * i] = out[end];
        out[0x33 + 2 * i] = out[end + 1];
        out[end] = 0x01;
        out[end + 1] = 0x00;
      }
    }
    return out;
  }

  size_t Position() const { return pos_; }
  void Put16(size_t at, uint16_t v) { std::memcpy(&bytes_[at], &v, 2); }
  void Put32(size_t at, uint32_t v) { std::memcpy(&bytes_[at], &v, 4); }
  void Put64(size_t at, uint64_t v) { std::memcpy(&bytes_[at], &v, 8); }

 private:
  static uint32_t Align8(uint32_t n) { return (n + 7) & ~7u; }
  size_t Begin(uint32_t type, uint32_t length) {
    size_t at = pos_;
    Put32(at, type);
    Put32(at + 4, length);
    pos_ += length;
    return at;
  }
  std::vector<uint8_t> bytes_;
  uint32_t bps_;
  size_t pos_;
};

}  // namespace nuvarin::test
