// PDF documents: the file ends after the last end-of-file comment of a chunk,
// with the line end that writers put after it.
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin::formats {

uint32_t TestPdf(const uint8_t* p, size_t n) {
  return (p && n >= 5 && ByteReader(p, n).equals(0, "%PDF-")) ? kKindPdf : kNoKind;
}

uint64_t SizePdf(const uint8_t* p, size_t n, uint64_t cap) {
  return ReadOn(cap, [&](const Chunk& c, uint64_t& length) {
    size_t at = FindLastBytes(c.data, c.searchEnd, "%%EOF", 5);
    if (at != kNotFound) {
      size_t end = at + 5;
      // Keep one CR LF, CR or LF after the marker.
      if (end < c.searchEnd && c.data[end] == '\r') {
        ++end;
        if (end < c.searchEnd && c.data[end] == '\n') ++end;
      } else if (end < c.searchEnd && c.data[end] == '\n') {
        ++end;
      }
      length = c.before + end;
      return true;
    }
    at = FindLastBytes(c.data, c.searchEnd, "trailer", 7);
    if (at == kNotFound) return false;
    length = c.before + at + 7;
    return true;
  });
}

}  // namespace nuvarin::formats
