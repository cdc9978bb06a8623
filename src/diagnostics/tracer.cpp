#include "kqbridge/tracer.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kqbridge/utils.h"
#include "platform/mutex.h"

namespace bg {

Abstract_Func_Tracer::~Abstract_Func_Tracer() = default;

struct Func_Tracer::State {
  explicit State(const char* file) : path(strdup(file != nullptr ? file : "")) {}
  ~State() { free(path); }

  // As the logger: append mode, standard error as the fallback, a header
  // line.
  void openStream() REQUIRES(lock);
  void writeIndent() REQUIRES(lock);

  // Guards the fields below and every write to the stream.
  platform::Mutex lock;
  FILE* stream GUARDED_BY(lock) = nullptr;
  bool borrowed GUARDED_BY(lock) = false;
  char* const path;
  int depth GUARDED_BY(lock) = 0;
  bool enabled GUARDED_BY(lock) = true;
};

Func_Tracer::Func_Tracer(const char* path) : m_state(new State(path)) {}

Func_Tracer::~Func_Tracer() {
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

FILE* Func_Tracer::setStream(FILE* s) {
  State& st = *m_state;
  platform::MutexLock hold(&st.lock);
  if (st.stream != nullptr && !st.borrowed) fclose(st.stream);
  st.stream = s;
  st.borrowed = true;
  return s;
}

bool Func_Tracer::setEnabled(bool on) {
  platform::MutexLock hold(&m_state->lock);
  m_state->enabled = on;
  return on;
}

const char* Func_Tracer::getPath() {
  return m_state->path;
}

void Func_Tracer::enter(const char* function, int line, const char* note) {
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  if (!s.enabled) return;
  if (s.stream == nullptr) s.openStream();
  ++s.depth;
  s.writeIndent();
  fprintf(s.stream, "|__%s [%d] %s\n", function != nullptr ? function : "", line,
          note != nullptr ? note : "");
  fflush(s.stream);
}

void Func_Tracer::leave(int line) {
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  if (!s.enabled || s.stream == nullptr) return;
  s.writeIndent();
  fprintf(s.stream, "|__@ [%d]\n", line);
  fflush(s.stream);
  --s.depth;
}

void Func_Tracer::State::openStream() {
  stream = openFile(path, "a+");
  borrowed = stream == nullptr;
  if (borrowed) stream = stderr;
  fprintf(stream, "%s %s\n",
          "===+===+===+===+===+===+===", formatTime(time(nullptr), "%Y-%m-%d %H:%M:%S").c_str());
}

// A leave without its entry (the tracer switched on in between) may bring the
// depth below 1; it then writes no bars.
void Func_Tracer::State::writeIndent() {
  for (int i = 1; i < depth; ++i) fputs("|   ", stream);
}

}  // namespace bg
