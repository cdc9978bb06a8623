#include "kqbridge/logger.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kqbridge/utils.h"

namespace bg {

namespace {

const char kHeaderRule[] = "-------------------------";

typedef std::lock_guard<std::mutex> Hold;

}  // namespace

Abstract_Logger::~Abstract_Logger() = default;

Logger::Logger(const char* path)
    : m_path(strdup(path != nullptr ? path : "")), m_stream(nullptr), m_borrowed(false), m_level(6) {}

Logger::~Logger() {
  Hold hold(m_lock);
  if (m_stream != nullptr) {
    fputs("\n", m_stream);
    fflush(m_stream);
    if (!m_borrowed) fclose(m_stream);
  }
  m_stream = stderr;
  m_borrowed = true;
  free(m_path);
  m_path = nullptr;
}

FILE* Logger::setStream(FILE* s) {
  Hold hold(m_lock);
  if (m_stream != nullptr && !m_borrowed) fclose(m_stream);
  m_stream = s;
  m_borrowed = true;
  return s;
}

FILE* Logger::getStream() {
  Hold hold(m_lock);
  return m_stream;
}

void Logger::setLevel(int level) {
  Hold hold(m_lock);
  m_level = level;
  if (level == 0) closeLocked();
}

int Logger::getLevel() {
  Hold hold(m_lock);
  return m_level;
}

void Logger::log(int level, const char* fmt, ...) {
  Hold hold(m_lock);
  // Level 0 silences the logger even for lines of level 0 or below.
  if (level > m_level || m_level <= 0) return;
  if (m_stream == nullptr) openStream();
  va_list ap;
  va_start(ap, fmt);
  vfprintf(m_stream, fmt, ap);
  va_end(ap);
  fflush(m_stream);
}

std::string Logger::getPath() {
  return std::string(m_path);
}

std::string Logger::getDir() {
  return getDirName(m_path);
}

void Logger::close() {
  Hold hold(m_lock);
  closeLocked();
}

void Logger::closeLocked() {
  m_level = 0;
  if (m_stream != nullptr && !m_borrowed) {
    fclose(m_stream);
    m_stream = nullptr;
    m_borrowed = false;
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

void Logger::openStream() {
  m_stream = openFile(m_path, "a+");
  m_borrowed = m_stream == nullptr;
  if (m_borrowed) m_stream = stderr;
  // Not getTimeStr: its buffer may hold the time text of the line being logged.
  fprintf(m_stream, "%s %s\n", kHeaderRule, formatTime(time(nullptr), "%Y-%m-%d %H:%M:%S").c_str());
}

}  // namespace bg
