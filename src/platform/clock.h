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
// `t` (seconds since the epoch) as local calendar time; false when it has none.
bool localTime(int64_t t, struct ::tm* out);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_CLOCK_H_
