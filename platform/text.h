// UTF-8 / UTF-16 conversion. Names live in memory as UTF-8; UTF-16 appears only
// where a disk or file format stores it. Invalid input becomes U+FFFD.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nuvarin::platform {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Decodes `count` little-endian UTF-16 code units from raw bytes.
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t count);
// Longest prefix of `utf8` of at most `maxBytes` bytes that ends on a
// character boundary.
std::string_view CutUtf8(std::string_view utf8, size_t maxBytes);
// ASCII lower-casing (the case rules of the on-disk formats).
std::string AsciiLower(std::string_view s);

}  // namespace nuvarin::platform
