#include "platform/console.h"

#include <cstdio>
#include <string>

#include "platform/mutex.h"

namespace bg {
namespace platform {

namespace {

struct Sink {
  Mutex lock;
  ConsoleSink fn GUARDED_BY(lock) = nullptr;
  void* user GUARDED_BY(lock) = nullptr;
};

Sink& sink() {
  static Sink* installed = new Sink();  // lines may still come from static destructors
  return *installed;
}

}  // namespace

void consoleWrite(ConsoleStream stream, const char* fmt, va_list ap) {
  char small[512];
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(small, sizeof(small), fmt, ap);
  std::string large;
  const char* text = small;
  if (n < 0) {
    text = "";
  } else if (static_cast<size_t>(n) >= sizeof(small)) {
    large.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&large[0], large.size(), fmt, again);
    text = large.c_str();
  }
  va_end(again);
  ConsoleSink fn;
  void* user;
  {
    Sink& s = sink();
    MutexLock hold(&s.lock);
    fn = s.fn;
    user = s.user;
  }
  if (fn != nullptr) {
    fn(static_cast<int>(stream), text, user);
    return;
  }
  FILE* f = stream == ConsoleStream::kError ? stderr : stdout;
  fputs(text, f);
  fflush(f);
}

void consoleError(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  consoleWrite(ConsoleStream::kError, fmt, ap);
  va_end(ap);
}

void consoleOutput(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  consoleWrite(ConsoleStream::kOutput, fmt, ap);
  va_end(ap);
}

void setConsoleSink(ConsoleSink fn, void* user) {
  Sink& s = sink();
  MutexLock hold(&s.lock);
  s.fn = fn;
  s.user = user;
}

}  // namespace platform
}  // namespace bg
