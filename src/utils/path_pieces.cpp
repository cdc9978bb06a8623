// Cutting paths into directory, file name and base name, and writing them
// with one kind of separator; '/' and '\' both separate.
#include <cstring>
#include <string>

#include "kqbridge/utils.h"
#include "platform/path.h"

namespace bg {

namespace {

// Index just after the last separator (0 when there is none).
size_t afterLastSeparator(const char* path) {
  size_t n = strlen(path);
  while (n > 0 && !platform::isSeparator(path[n - 1])) --n;
  return n;
}

}  // namespace

// The copy ends at the first NUL, as the C-string callers expect.
std::string normalizePath(const std::string& path) {
  const char* p = path.c_str();
  std::string out;
  out.reserve(path.size());
  bool afterSeparator = false;
  for (; *p != '\0'; ++p) {
    if (platform::isSeparator(*p)) {
      if (!afterSeparator) out += platform::kNativeSeparator;
      afterSeparator = true;
    } else {
      out += *p;
      afterSeparator = false;
    }
  }
  return out;
}

std::string getFileName(const char* path) {
  if (path == nullptr) return std::string();
  return std::string(path + afterLastSeparator(path));
}

std::string getBaseName(const char* path) {
  if (path == nullptr) return std::string();
  const char* name = path + afterLastSeparator(path);
  return std::string(name, strcspn(name, "."));
}

std::string getDirName(const char* path) {
  if (path == nullptr) return std::string();
  return std::string(path, afterLastSeparator(path));
}

}  // namespace bg
