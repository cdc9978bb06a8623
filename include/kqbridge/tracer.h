// bg::Func_Tracer, the indented call tree, and bg::TraceScope.
#ifndef KQBRIDGE_TRACER_H_
#define KQBRIDGE_TRACER_H_

#include <cstdio>

#include "kqbridge/export.h"

namespace bg {

// One line per traced entry and exit, indented by the nesting depth. Opens
// its file in append mode on the first entry, with a header line. A
// Func_Tracer (the central one included) is safe for concurrent use from any
// thread without outside locking; the depth is one count for all threads.
class KQ_EXPORT Abstract_Func_Tracer {
 public:
  virtual ~Abstract_Func_Tracer();
  // Closes an owned stream and borrows `s`.
  virtual FILE* setStream(FILE* s) = 0;
  virtual bool setEnabled(bool on) = 0;
  virtual const char* getPath() = 0;
  // "|__<function> [<line>] <note>" at the current depth.
  virtual void enter(const char* function, int line, const char* note) = 0;
  // "|__@ [<line>]" at the depth of the matching entry.
  virtual void leave(int line) = 0;
};

class KQ_EXPORT Func_Tracer : public Abstract_Func_Tracer {
 public:
  explicit Func_Tracer(const char* path);
  ~Func_Tracer() override;
  Func_Tracer(const Func_Tracer&) = delete;
  Func_Tracer& operator=(const Func_Tracer&) = delete;
  FILE* setStream(FILE* s) override;
  bool setEnabled(bool on) override;
  const char* getPath() override;
  void enter(const char* function, int line, const char* note) override;
  void leave(int line) override;

 private:
  // The path, the stream, the depth and the lock over them, defined in src/.
  struct State;
  State* m_state;
};

// Enters `function` on the central object's tracer for the life of the scope.
class KQ_EXPORT TraceScope {
 public:
  TraceScope(const char* function, int line);
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  // Modules keep a TraceScope on their own stack, so these two fields are
  // its fixed layout.
  Abstract_Func_Tracer* m_tracer;
  int m_line;
};

}  // namespace bg

#endif  // KQBRIDGE_TRACER_H_
