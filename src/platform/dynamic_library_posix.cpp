#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/dynamic_library.h"
#include "platform/last_error.h"
#include "platform/path.h"

namespace bg {
namespace platform {

namespace {

// dlopen explains itself only in text; the number is the one Windows gives
// for the same cause, so messages read alike on every platform.
unsigned classifyLoadFailure(const std::string& file, const char* text) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return kErrModNotFound;
  if (text == nullptr) return kErrBadExeFormat;
  if (strstr(text, "undefined symbol") != nullptr) return kErrProcNotFound;
  if (strstr(text, "cannot open shared object file") != nullptr) return kErrModNotFound;
  if (strstr(text, "Permission denied") != nullptr) return kErrAccessDenied;
  return kErrBadExeFormat;
}

void keepReason(const char* text, std::string* why) {
  if (why != nullptr) *why = text != nullptr ? text : "";
}

}  // namespace

void* openLibrary(const char* path, std::string* why) {
  std::string file = nativePath(path);
  void* handle = dlopen(file.c_str(), RTLD_NOW);
  if (handle != nullptr) {
    setLastError(kErrSuccess);
    keepReason(nullptr, why);
    return handle;
  }
  const char* text = dlerror();
  setLastError(classifyLoadFailure(file, text));
  keepReason(text, why);
  return nullptr;
}

void* findSymbol(void* library, const char* symbol, std::string* why) {
  if (library == nullptr || symbol == nullptr) {
    setLastError(kErrProcNotFound);
    keepReason("no library or no symbol name", why);
    return nullptr;
  }
  dlerror();
  void* address = dlsym(library, symbol);
  if (address != nullptr) {
    keepReason(nullptr, why);
    return address;
  }
  const char* text = dlerror();
  setLastError(kErrProcNotFound);
  keepReason(text, why);
  return nullptr;
}

}  // namespace platform
}  // namespace bg
