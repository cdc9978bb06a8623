#include <ctime>

#include "platform/clock.h"

namespace bg {
namespace platform {

void wallClock(struct ::timeval* tv) {
  ::gettimeofday(tv, nullptr);
}

int64_t nowSeconds() {
  return static_cast<int64_t>(time(nullptr));
}

bool localTime(int64_t t, struct ::tm* out) {
  time_t when = static_cast<time_t>(t);
  return localtime_r(&when, out) != nullptr;
}

}  // namespace platform
}  // namespace bg
