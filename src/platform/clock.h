// The wall clock and local calendar time.
#ifndef KQBRIDGE_PLATFORM_CLOCK_H_
#define KQBRIDGE_PLATFORM_CLOCK_H_

#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <ctime>

namespace bg {
namespace platform {

// Seconds and microseconds since 1970-01-01 UTC.
void wallClock(struct ::timeval* tv);
int64_t nowSeconds();
// The wall-clock time `ms` milliseconds from now, as the absolute deadline
// that timed waits (CondVar::waitUntil, Mutex::lockUntil, waitWord) take. It
// reads the same UTC clock as they do, and needs nothing of the library, so
// remote.dll, a module of its own, waits the same way.
inline timespec deadlineAfterMs(unsigned ms) {
  auto at = std::chrono::system_clock::now().time_since_epoch() + std::chrono::milliseconds(ms);
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(at);
  timespec deadline;
  deadline.tv_sec = static_cast<time_t>(seconds.count());
  deadline.tv_nsec =
      static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(at - seconds).count());
  return deadline;
}
// `t` (seconds since the epoch) as local calendar time; false when it has none.
bool localTime(int64_t t, struct ::tm* out);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_CLOCK_H_
