#include "kqbridge/logger.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kqbridge/utils.h"
#include "platform/mutex.h"

namespace bg {

namespace {

const char kHeaderRule[] = "-------------------------";

}  // namespace

Abstract_Logger::~Abstract_Logger() = default;

struct Logger::State {
  explicit State(const char* file) : path(strdup(file != nullptr ? file : "")) {}
  ~State() { free(path); }

  // Opens the file in append mode (standard error when it cannot be) and
  // writes the header line.
  void openStream() REQUIRES(lock);
  // close() for a caller that holds the lock.
  void closeLocked() REQUIRES(lock);

  // Guards the fields below and every write to the stream.
  platform::Mutex lock;
  char* const path;
  FILE* stream GUARDED_BY(lock) = nullptr;
  bool borrowed GUARDED_BY(lock) = false;
  int level GUARDED_BY(lock) = 6;
};

Logger::Logger(const char* path) : m_state(new State(path)) {}

Logger::~Logger() {
  {
    State& s = *m_state;
    platform::MutexLock hold(&s.lock);
    if (s.stream != nullptr) {
      fputs("\n", s.stream);
      fflush(s.stream);
      if (!s.borrowed) fclose(s.stream);
    }
  }
  delete m_state;
  m_state = nullptr;
}

FILE* Logger::setStream(FILE* s) {
  State& st = *m_state;
  platform::MutexLock hold(&st.lock);
  if (st.stream != nullptr && !st.borrowed) fclose(st.stream);
  st.stream = s;
  st.borrowed = true;
  return s;
}

FILE* Logger::getStream() {
  platform::MutexLock hold(&m_state->lock);
  return m_state->stream;
}

void Logger::setLevel(int level) {
  platform::MutexLock hold(&m_state->lock);
  m_state->level = level;
  if (level == 0) m_state->closeLocked();
}

int Logger::getLevel() {
  platform::MutexLock hold(&m_state->lock);
  return m_state->level;
}

void Logger::log(int level, const char* fmt, ...) {
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  // Level 0 silences the logger even for lines of level 0 or below.
  if (level > s.level || s.level <= 0) return;
  if (s.stream == nullptr) s.openStream();
  va_list ap;
  va_start(ap, fmt);
  vfprintf(s.stream, fmt, ap);
  va_end(ap);
  fflush(s.stream);
}

std::string Logger::getPath() {
  return std::string(m_state->path);
}

std::string Logger::getDir() {
  return getDirName(m_state->path);
}

void Logger::close() {
  platform::MutexLock hold(&m_state->lock);
  m_state->closeLocked();
}

void Logger::State::closeLocked() {
  level = 0;
  if (stream != nullptr && !borrowed) {
    fclose(stream);
    stream = nullptr;
    borrowed = false;
  }
}

Abstract_Logger* Logger::createLogger(const char* path) {
  return new Logger(path);
}

void Logger::destroyLogger(Abstract_Logger** pp) {
  if (pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

void Logger::State::openStream() {
  stream = openFile(path, "a+");
  borrowed = stream == nullptr;
  if (borrowed) stream = stderr;
  // Not getTimeStr: its buffer may hold the time text of the line being logged.
  fprintf(stream, "%s %s\n", kHeaderRule, formatTime(time(nullptr), "%Y-%m-%d %H:%M:%S").c_str());
}

}  // namespace bg
