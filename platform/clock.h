// Local time for log names, millisecond ticks, FILETIME conversion.
#pragma once
#include <cstdint>
#include <ctime>

namespace nuvarin::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

LocalTime LocalTimeNow();
// Milliseconds of a monotonic clock.
uint64_t TickMs();
// 100 ns units since 1601-01-01 UTC.
uint64_t TimespecToFiletime(const struct timespec& ts);
struct timespec FiletimeToTimespec(uint64_t filetime);

}  // namespace nuvarin::platform
