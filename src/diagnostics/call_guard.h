// Calls into code the library does not own: a component's operations, the
// listeners and filters of a data bus, the jobs of a thread pool. What such
// a call throws stops there: it is reported in one line, and the caller goes
// on as if the call had failed, so one faulty module cannot end the process.
// Safe to use from any thread.
#ifndef KQBRIDGE_DIAGNOSTICS_CALL_GUARD_H_
#define KQBRIDGE_DIAGNOSTICS_CALL_GUARD_H_

#include <string>

namespace bg {

// Only inside a catch block: writes "[Bridge Error] <who>: <what>" to stderr
// and, while there is one, to the central log. A thread that is being
// cancelled or exits unwinds on: that exception is thrown again.
void reportCaught(const std::string& who);

// "component '<name>' threw from <call>".
std::string componentThrew(const char* name, const char* call);

// "<file> threw from <call>", with the file name of the module that holds
// `code` (a callback's function).
std::string codeThrew(const void* code, const std::string& call);

// Runs `body()`: true when it returned, false when it threw; `describe()`,
// called only then, names who threw from which call.
template <typename Body, typename Describe>
bool callGuarded(Body&& body, Describe&& describe) {
  try {
    body();
    return true;
  } catch (...) {
    reportCaught(describe());
  }
  return false;
}

// callGuarded for the operation `call` of the component named `name`.
template <typename Body>
bool callComponent(const char* name, const char* call, Body&& body) {
  return callGuarded(body, [&] { return componentThrew(name, call); });
}

}  // namespace bg

#endif  // KQBRIDGE_DIAGNOSTICS_CALL_GUARD_H_
