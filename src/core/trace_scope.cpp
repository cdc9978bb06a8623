// A trace scope writes to the central object's tracer, so it lives beside the
// central object rather than with the tracer itself.
#include "kqbridge/interface.h"
#include "kqbridge/tracer.h"

namespace bg {

TraceScope::TraceScope(const char* function, int line)
    : m_tracer(CD != nullptr ? CD->m_tracer : nullptr), m_line(line) {
  if (m_tracer != nullptr) m_tracer->enter(function, line, nullptr);
}

TraceScope::~TraceScope() {
  if (m_tracer != nullptr) m_tracer->leave(m_line);
}

}  // namespace bg
