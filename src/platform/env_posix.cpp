#include <cstdlib>

#include "platform/env.h"
#include "platform/path.h"

namespace bg {
namespace platform {

int setEnvVar(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return -1;
  // Changing the environment is the caller's to coordinate (kqbridge/utils.h).
  return setenv(name, value, 1) == 0 ? 0 : -1;  // NOLINT(concurrency-mt-unsafe)
}

char* getEnvVar(const char* name) {
  return name == nullptr ? nullptr : getenv(name);
}

std::string tempPath() {
  for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
    const char* value = getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string path(value);
    if (!isSeparator(path.back())) path += '/';
    return path;
  }
  return "/tmp/";
}

}  // namespace platform
}  // namespace bg
