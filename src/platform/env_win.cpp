#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "platform/text.h"

namespace bg {
namespace platform {

// _putenv_s updates the C runtime's copy and the process environment that
// children inherit. An empty value removes the variable, as on the system.
int setEnvVar(const char* name, const char* value) {
  if (name == nullptr || value == nullptr || *name == '\0' || strchr(name, '=') != nullptr) return -1;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

char* getEnvVar(const char* name) {
  return name == nullptr ? nullptr : getenv(name);
}

// The system's answer (TMP, TEMP, USERPROFILE, then the Windows folder) in the
// system code page; TMPDIR and a fixed folder only when the system has none.
std::string tempPath() {
  wchar_t wide[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, wide);
  if (n > 0 && n <= MAX_PATH) {
    int bytes = wideToAnsiBytes(wide, static_cast<int>(n), nullptr, 0);
    std::string out(static_cast<size_t>(bytes), '\0');
    if (bytes > 0 && wideToAnsiBytes(wide, static_cast<int>(n), &out[0], bytes) == bytes) return out;
  }
  const char* tmpdir = getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') {
    std::string path(tmpdir);
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    return path;
  }
  return "C:\\tmp\\";
}

}  // namespace platform
}  // namespace bg
