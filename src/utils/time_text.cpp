// Local time as text and the wall clock.
#include <ctime>

#include "kqbridge/utils.h"
#include "platform/clock.h"

namespace bg {

namespace {

// One buffer per thread, overwritten by every call on that thread; the
// loggers of several threads format their time stamps through it.
thread_local char t_timeText[64];

// A format whose result does not fit yields an empty text.
void formatLocal(int64_t t, const char* fmt, char* buf, size_t size) {
  struct tm local;
  if (fmt == nullptr || !platform::localTime(t, &local) || strftime(buf, size, fmt, &local) == 0)
    buf[0] = '\0';
}

}  // namespace

const char* getTimeStr(const char* fmt) {
  formatLocal(platform::nowSeconds(), fmt, t_timeText, sizeof(t_timeText));
  return t_timeText;
}

std::string formatTime(int64_t t, const char* fmt) {
  char buf[128];
  formatLocal(t, fmt, buf, sizeof(buf));
  return std::string(buf);
}

// Microsecond resolution; the time zone argument is ignored.
int gettimeofday(struct ::timeval* tv, void* /*tz*/) {
  if (tv != nullptr) platform::wallClock(tv);
  return 0;
}

int64_t getTimeUs() {
  struct ::timeval tv;
  bg::gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000000 + static_cast<int64_t>(tv.tv_usec);
}

}  // namespace bg
