// Environment variables, and pointers passed through them between a host and
// the modules it loads.
#include <cstdio>

#include "kqbridge/utils.h"
#include "platform/env.h"

namespace bg {

// An existing variable is always replaced; `overwrite` is kept for the
// signature modules were built against.
int setEnv(const char* name, const char* value, int /*overwrite*/) {
  return platform::setEnvVar(name, value);
}

char* getEnv(const char* name) {
  return platform::getEnvVar(name);
}

// The pointer's text is whatever "%p" gives here; getEnvPtr reads the same
// form back.
int setEnvPtr(const char* name, void* p) {
  char text[64];
  snprintf(text, sizeof(text), "%p", p);
  return setEnv(name, text, 1);
}

void getEnvPtr(const char* name, void** out) {
  if (out == nullptr) return;
  const char* text = getEnv(name);
  void* p = nullptr;
  if (text == nullptr || sscanf(text, "%p", &p) != 1) p = nullptr;
  *out = p;
}

}  // namespace bg
