// Shared objects loaded by path, with the Windows error numbers callers print.
#ifndef KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_
#define KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>

namespace bg {
namespace platform {

// Loads the library at `path` ('\' separates too) with every symbol bound at
// once. Libraries are never unloaded: they stay until the process ends. Null
// on failure, with the last error 126 (the file is missing, or something it
// needs is), 5 (it cannot be read) or 193 (not a shared object this machine
// loads); `why`, when given, receives the system loader's own explanation.
void* openLibrary(const char* path, std::string* why);

// The address of `symbol` in a library from openLibrary; null with the last
// error 127 when the library itself does not define it (a definition in a
// library it depends on does not count, as on Windows).
void* findSymbol(void* library, const char* symbol, std::string* why);

// The path of the executable or library whose code holds `code`; empty when
// the system cannot tell.
std::string fileHoldingCode(const void* code);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_DYNAMIC_LIBRARY_H_
