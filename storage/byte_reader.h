// The one bounds-checked view over on-disk bytes. Every decoder reads disk data
// through it: an access outside the buffer yields 0 (or an empty view) instead
// of touching memory it does not own, whatever a length field on disk says.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace nuvarin {

// Overflow-checked arithmetic for values that come from disk.
template <typename T>
inline bool CheckedAdd(T a, T b, T& out) { return !__builtin_add_overflow(a, b, &out); }
template <typename T>
inline bool CheckedMul(T a, T b, T& out) { return !__builtin_mul_overflow(a, b, &out); }

class ByteReader {
 public:
  constexpr ByteReader() = default;
  constexpr ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
  ByteReader(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the buffer.
  bool has(size_t offset, size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  uint8_t u8(size_t off) const { return has(off, 1) ? data_[off] : 0; }
  uint16_t le16(size_t off) const {
    return has(off, 2) ? static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8)) : 0;
  }
  uint32_t le32(size_t off) const {
    if (!has(off, 4)) return 0;
    uint32_t v;
    std::memcpy(&v, data_ + off, 4);
    return v;  // little-endian host
  }
  uint64_t le64(size_t off) const {
    if (!has(off, 8)) return 0;
    uint64_t v;
    std::memcpy(&v, data_ + off, 8);
    return v;
  }
  // Little-endian unsigned value of 1..8 bytes (run lists use odd widths).
  uint64_t leN(size_t off, size_t width) const {
    if (width == 0 || width > 8 || !has(off, width)) return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(data_[off + i]) << (8 * i);
    return v;
  }
  // Sign-extended little-endian value of 1..8 bytes.
  int64_t leSignedN(size_t off, size_t width) const {
    if (width == 0 || width > 8 || !has(off, width)) return 0;
    uint64_t v = leN(off, width);
    if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~0ULL << (8 * width);
    return static_cast<int64_t>(v);
  }
  uint16_t be16(size_t off) const {
    return has(off, 2) ? static_cast<uint16_t>((data_[off] << 8) | data_[off + 1]) : 0;
  }
  uint32_t be32(size_t off) const {
    if (!has(off, 4)) return 0;
    return (static_cast<uint32_t>(data_[off]) << 24) | (static_cast<uint32_t>(data_[off + 1]) << 16) |
           (static_cast<uint32_t>(data_[off + 2]) << 8) | data_[off + 3];
  }
  uint64_t be64(size_t off) const {
    return has(off, 8) ? (static_cast<uint64_t>(be32(off)) << 32) | be32(off + 4) : 0;
  }

  // True when the bytes at `off` equal `bytes` (false when out of range).
  bool equals(size_t off, const void* bytes, size_t length) const {
    return has(off, length) && std::memcmp(data_ + off, bytes, length) == 0;
  }
  bool equals(size_t off, std::string_view text) const { return equals(off, text.data(), text.size()); }

  // A view of [off, off + length), or nothing when it does not fit.
  std::optional<ByteReader> sub(size_t off, size_t length) const {
    if (!has(off, length)) return std::nullopt;
    return ByteReader(data_ + off, length);
  }
  // The view from `off` to the end (empty when `off` is past the end).
  ByteReader from(size_t off) const {
    return off <= size_ ? ByteReader(data_ + off, size_ - off) : ByteReader();
  }
  // Copies `length` bytes to `out` when they fit.
  bool copy(size_t off, void* out, size_t length) const {
    if (!has(off, length)) return false;
    std::memcpy(out, data_ + off, length);
    return true;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace nuvarin
