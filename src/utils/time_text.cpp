// Local time as text and the wall clock.
#include <sys/time.h>

#include <ctime>

#include "kqbridge/utils.h"

namespace bg {

namespace {
// One buffer per thread, overwritten by every call on that thread.
thread_local char g_timeText[64];
}  // namespace

const char* getTimeStr(const char* fmt) {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  if (strftime(g_timeText, sizeof(g_timeText), fmt, &local) == 0) g_timeText[0] = '\0';
  return g_timeText;
}

std::string formatTime(int64_t t, const char* fmt) {
  time_t when = static_cast<time_t>(t);
  struct tm local;
  localtime_r(&when, &local);
  char buf[128];
  if (strftime(buf, sizeof(buf), fmt, &local) == 0) buf[0] = '\0';
  return std::string(buf);
}

int gettimeofday(struct ::timeval* tv, void* /*tz*/) {
  ::gettimeofday(tv, nullptr);
  return 0;
}

int64_t getTimeUs() {
  struct ::timeval tv;
  bg::gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000000 + static_cast<int64_t>(tv.tv_usec);
}

}  // namespace bg
