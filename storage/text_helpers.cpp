#include "storage/text_helpers.h"

#include <cstdio>

namespace nuvarin {

std::string SizeText(int64_t n) {
  struct Unit {
    int64_t threshold;
    const char* suffix;
  };
  static const Unit kUnits[] = {
      {1LL << 40, " TB"}, {1LL << 30, " GB"}, {1LL << 20, " MB"}, {1LL << 10, " KB"}};
  char buf[64];
  for (const Unit& u : kUnits) {
    if (n >= u.threshold) {
      std::snprintf(buf, sizeof(buf), "%.2f%s", static_cast<double>(n) / static_cast<double>(u.threshold), u.suffix);
      return buf;
    }
  }
  std::snprintf(buf, sizeof(buf), "%lld Bytes", static_cast<long long>(n));
  return buf;
}

std::string DurationText(int64_t s) {
  char buf[64];
  if (s > 3599) {
    std::snprintf(buf, sizeof(buf), "%lld Hour %lld Min", static_cast<long long>(s / 3600),
                  static_cast<long long>((s % 3600) / 60));
  } else if (s > 59) {
    std::snprintf(buf, sizeof(buf), "%lld Min %lld Sec", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(buf, sizeof(buf), "%lld Sec", static_cast<long long>(s));
  }
  return buf;
}

}  // namespace nuvarin
