#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace bg {
namespace platform {

// The local calendar time read back through the C runtime: a millisecond
// resolution, as the system clock call gives it.
void wallClock(struct ::timeval* tv) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  struct tm local = {};
  local.tm_year = now.wYear - 1900;
  local.tm_mon = now.wMonth - 1;
  local.tm_mday = now.wDay;
  local.tm_hour = now.wHour;
  local.tm_min = now.wMinute;
  local.tm_sec = now.wSecond;
  local.tm_isdst = -1;
  __time64_t seconds = _mktime64(&local);
  tv->tv_sec = static_cast<long>(seconds);
  tv->tv_usec = static_cast<long>(now.wMilliseconds) * 1000;
}

int64_t nowSeconds() {
  return static_cast<int64_t>(_time64(nullptr));
}

bool localTime(int64_t t, struct ::tm* out) {
  __time64_t when = static_cast<__time64_t>(t);
  return _localtime64_s(out, &when) == 0;
}

}  // namespace platform
}  // namespace bg
