/// \file
/// bg::Func_Tracer, the indented call tree, and bg::TraceScope.
#ifndef KQBRIDGE_TRACER_H_
#define KQBRIDGE_TRACER_H_

#include <cstdio>

#include "kqbridge/export.h"

namespace bg {

/// One line per traced entry and exit, indented by the nesting depth. Opens
/// its file in append mode on the first entry, with a header line. A
/// Func_Tracer (the central one included) is safe for concurrent use from any
/// thread without outside locking; the depth is one count for all threads.
class KQ_EXPORT Abstract_Func_Tracer {
 public:
  virtual ~Abstract_Func_Tracer();
  /// Closes an owned stream and borrows `s`.
  virtual FILE* setStream(FILE* s) = 0;
  /// Turns tracing on or off and returns `on`; a tracer starts on.
  virtual bool setEnabled(bool on) = 0;
  /// The file's path as given; "" for a tracer without a file.
  virtual const char* getPath() = 0;
  /// "|__<function> [<line>] <note>" at the current depth.
  virtual void enter(const char* function, int line, const char* note) = 0;
  /// "|__@ [<line>]" at the depth of the matching entry.
  virtual void leave(int line) = 0;
};

/// The call trace behind each component's own m_tracer, `log/<component><date>.tcr`,
/// written while the central log's level ("LogLevel" in Admin.conf) is 4 or
/// more. A file that cannot be opened gives way to standard error.
class KQ_EXPORT Func_Tracer : public Abstract_Func_Tracer {
 public:
  /// Nothing is opened until the first entry.
  explicit Func_Tracer(const char* path);
  /// Ends the file with an empty line and closes it.
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

/// Enters `function` on the central object's tracer for the life of the scope.
class KQ_EXPORT TraceScope {
 public:
  /// Writes the entry line (nothing while bg::CD or its tracer is null).
  TraceScope(const char* function, int line);
  /// Writes the matching exit line.
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
