#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/admin_state.h"
#include "diagnostics/call_guard.h"
#include "kqbridge/registry.h"
#include "platform/console.h"

namespace bg {

Bridge_A::~Bridge_A() = default;

Admin::Admin() : m_state(new State()) {
  strcpy(m_name, "Admin");
}

// The shared services go first, in their record's order, once uninit() has
// stopped every component and joined the pool. Our own services go after the
// "Done!" line and the trace scope's leave line, which they write, in the
// order of their record: the logger, the utilities and the tracer last.
Admin::~Admin() {
  {
    TraceScope scope("~Admin", __LINE__);
    uninit();
    releaseSharedServices(this, &m_state->shared);
    BG_LOG(ERROR, "Done!");
  }
  releaseComponentServices(this, &m_state->own);
  delete m_state;
  m_state = nullptr;
}

Value Admin::process(const char* from, BridgeMsg msg) {
  if (msg.cmd == 0) {
    platform::consoleError("[Admin] :: process() : from=%s, msg=%s \n", from, msg.text);
  } else if ((msg.cmd == 1 || msg.cmd == 2) && msg.sub == 0) {
    // The process ends without the destructor, which is where our own
    // configuration would be written; the components' ones go in uninit().
    uninit();
    if (m_config != nullptr) m_config->save();
    std::exit(0);  // NOLINT(concurrency-mt-unsafe): ending the process is what the command asks
  }
  return Value(static_cast<void*>(this));
}

Value Admin::call(const char* to, BridgeMsg msg) {
  return dispatch(m_name, to, msg);
}

bool (*Admin::setHandler(bool (*fn)(void*)))(void*) {
  bool (*previous)(void*) = m_state->handler;
  if (fn != nullptr) m_state->handler = fn;
  return previous;
}

Value Admin::dispatch(const char* from, const char* to, BridgeMsg msg) {
  void* target = to != nullptr ? getInstance(to) : nullptr;
  if (target == nullptr) {
    platform::consoleError("=== Admin: module (%s) not exist !! ERROR !\n", to);
    return Value::ErrorValue("Module not exsit");
  }
  if (msg.cmd == CMD_GET_INSTANCE) return Value(target);
  // A component that throws answers nothing, like one that has no answer.
  try {
    return static_cast<Interface*>(target)->process(from, msg);
  } catch (...) {
    reportCaught(componentThrew(to, "process()"));
  }
  return Value();
}

bool Admin::invokeHandler(void* arg) {
  return m_state->handler != nullptr ? m_state->handler(arg) : false;
}

bool Admin::isManaged(const void* inst) const {
  if (inst == this) return true;
  auto it = m_state->components.find(inst);
  return it != m_state->components.end() && it->second.initialised;
}

}  // namespace bg
