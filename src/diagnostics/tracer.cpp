#include "kqbridge/tracer.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "kqbridge/utils.h"

namespace bg {

namespace {

typedef std::lock_guard<std::mutex> Hold;

}  // namespace

Abstract_Func_Tracer::~Abstract_Func_Tracer() = default;

struct Func_Tracer::State {
  explicit State(const char* path) : path(strdup(path != nullptr ? path : "")) {}
  ~State() { free(path); }

  // As the logger: append mode, standard error as the fallback, a header
  // line. REQUIRES: lock held, as for writeIndent.
  void openStream();
  void writeIndent();

  FILE* stream = nullptr;
  bool borrowed = false;
  char* path;
  int depth = 0;
  bool enabled = true;
  // Guards the fields above and every write to the stream.
  std::mutex lock;
};

Func_Tracer::Func_Tracer(const char* path) : m_state(new State(path)) {}

Func_Tracer::~Func_Tracer() {
  {
    State& s = *m_state;
    Hold hold(s.lock);
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
  Hold hold(st.lock);
  if (st.stream != nullptr && !st.borrowed) fclose(st.stream);
  st.stream = s;
  st.borrowed = true;
  return s;
}

bool Func_Tracer::setEnabled(bool on) {
  Hold hold(m_state->lock);
  m_state->enabled = on;
  return on;
}

const char* Func_Tracer::getPath() {
  return m_state->path;
}

void Func_Tracer::enter(const char* function, int line, const char* note) {
  State& s = *m_state;
  Hold hold(s.lock);
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
  Hold hold(s.lock);
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
