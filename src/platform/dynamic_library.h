// Shared objects loaded by path, with the Windows error numbers callers print.
#ifndef KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_
#define KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>

#include "kqbridge/export.h"

namespace bg {
namespace platform {

// Loads the library at `path` ('\' separates too) with every symbol bound at
// once. Libraries are never unloaded: they stay until the process ends. Null
// on failure, with the last error 126 (missing file or dependency), 127 (a
// symbol the library needs is missing) or 193 (not a loadable image); `why`,
// when given, receives the system loader's own explanation.
KQ_EXPORT void* openLibrary(const char* path, std::string* why);

// The address of `symbol` in a library from openLibrary; null with the last
// error 127 when it is absent.
KQ_EXPORT void* findSymbol(void* library, const char* symbol, std::string* why);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_
