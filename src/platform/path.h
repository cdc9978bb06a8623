// Path text as the POSIX calls want it.
#ifndef KQBRIDGE_PLATFORM_PATH_H_
#define KQBRIDGE_PLATFORM_PATH_H_

#include <string>

namespace bg {
namespace platform {

// Both '/' and '\' separate, as on Windows: every '\' becomes '/' before a
// file call. Nothing else changes (no collapsing, no resolution of "..").
std::string nativePath(const char* path);
std::string nativePath(const std::string& path);

// The separator of the paths we hand out and print.
extern const char kNativeSeparator;

// True for '/' and '\'.
inline bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_PATH_H_
