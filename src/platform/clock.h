// The wall clock and local calendar time.
#ifndef KQBRIDGE_PLATFORM_CLOCK_H_
#define KQBRIDGE_PLATFORM_CLOCK_H_

#include <sys/time.h>

#include <cstdint>
#include <ctime>

namespace bg {
namespace platform {

// Seconds and microseconds since 1970-01-01 UTC.
void wallClock(struct ::timeval* tv);
int64_t nowSeconds();
// The wall-clock time `ms` milliseconds from now, as the absolute deadline
// that timed waits (CondVar::waitUntil, Mutex::lockUntil, waitWord) take.
inline timespec deadlineAfterMs(unsigned ms) {
  struct ::timeval now;
  wallClock(&now);
  // The microseconds and the milliseconds below a second may add up to more
  // than a second; it is carried, so the nanoseconds stay below 10^9.
  int64_t ns = static_cast<int64_t>(now.tv_usec) * 1000 + static_cast<int64_t>(ms % 1000) * 1000000;
  timespec deadline;
  deadline.tv_sec =
      static_cast<time_t>(now.tv_sec) + static_cast<time_t>(ms / 1000) + static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  return deadline;
}
// `t` (seconds since the epoch) as local calendar time; false when it has none.
bool localTime(int64_t t, struct ::tm* out);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_CLOCK_H_
