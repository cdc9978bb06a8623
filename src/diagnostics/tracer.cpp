#include "kqbridge/tracer.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kqbridge/utils.h"

namespace bg {

namespace {

typedef std::lock_guard<std::mutex> Hold;

}  // namespace

Abstract_Func_Tracer::~Abstract_Func_Tracer() = default;

Func_Tracer::Func_Tracer(const char* path)
    : m_stream(nullptr),
      m_borrowed(false),
      m_path(strdup(path != nullptr ? path : "")),
      m_depth(0),
      m_enabled(true) {}

Func_Tracer::~Func_Tracer() {
  Hold hold(m_lock);
  free(m_path);
  m_path = nullptr;
  if (m_stream != nullptr) {
    fputs("\n", m_stream);
    fflush(m_stream);
    if (!m_borrowed) fclose(m_stream);
    m_stream = nullptr;
  }
}

FILE* Func_Tracer::setStream(FILE* s) {
  Hold hold(m_lock);
  if (m_stream != nullptr && !m_borrowed) fclose(m_stream);
  m_stream = s;
  m_borrowed = true;
  return s;
}

bool Func_Tracer::setEnabled(bool on) {
  Hold hold(m_lock);
  m_enabled = on;
  return on;
}

const char* Func_Tracer::getPath() {
  return m_path;
}

void Func_Tracer::enter(const char* function, int line, const char* note) {
  Hold hold(m_lock);
  if (!m_enabled) return;
  if (m_stream == nullptr) openStream();
  ++m_depth;
  writeIndent();
  fprintf(m_stream, "|__%s [%d] %s\n", function != nullptr ? function : "", line,
          note != nullptr ? note : "");
  fflush(m_stream);
}

void Func_Tracer::leave(int line) {
  Hold hold(m_lock);
  if (!m_enabled || m_stream == nullptr) return;
  writeIndent();
  fprintf(m_stream, "|__@ [%d]\n", line);
  fflush(m_stream);
  --m_depth;
}

void Func_Tracer::openStream() {
  m_stream = openFile(m_path, "a+");
  m_borrowed = m_stream == nullptr;
  if (m_borrowed) m_stream = stderr;
  fprintf(m_stream, "%s %s\n",
          "===+===+===+===+===+===+===", formatTime(time(nullptr), "%Y-%m-%d %H:%M:%S").c_str());
}

// A leave without its entry (the tracer switched on in between) may bring the
// depth below 1; it then writes no bars.
void Func_Tracer::writeIndent() {
  for (int i = 1; i < m_depth; ++i) fputs("|   ", m_stream);
}

}  // namespace bg
