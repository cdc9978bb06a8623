// Path text as the POSIX calls want it.
#ifndef KQBRIDGE_PLATFORM_PATH_H_
#define KQBRIDGE_PLATFORM_PATH_H_

#include <string>

#include "kqbridge/export.h"

namespace bg {
namespace platform {

// Both '/' and '\' separate, as on Windows: every '\' becomes '/' before a
// file call. Nothing else changes (no collapsing, no resolution of "..").
KQ_EXPORT std::string nativePath(const char* path);
KQ_EXPORT std::string nativePath(const std::string& path);

// True for '/' and '\'.
inline bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_PATH_H_
