#include "platform/clock.h"

#include <chrono>

namespace nuvarin::platform {

namespace {
constexpr uint64_t kEpochDelta = 116444736000000000ULL;  // 1601 -> 1970 in 100 ns
}

LocalTime LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

uint64_t TickMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t TimespecToFiletime(const struct timespec& ts) {
  if (ts.tv_sec < 0) return 0;
  return kEpochDelta + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

struct timespec FiletimeToTimespec(uint64_t ft) {
  struct timespec ts {};
  if (ft < kEpochDelta) return ts;
  uint64_t t = ft - kEpochDelta;
  ts.tv_sec = static_cast<time_t>(t / 10000000ULL);
  ts.tv_nsec = static_cast<long>((t % 10000000ULL) * 100);
  return ts;
}

}  // namespace nuvarin::platform
