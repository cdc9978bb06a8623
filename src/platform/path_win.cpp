#include <algorithm>

#include "platform/path.h"

namespace bg {
namespace platform {

const char kNativeSeparator = '\\';

// The system takes both separators; we hand it its own.
std::string nativePath(const std::string& path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string nativePath(const char* path) {
  return path == nullptr ? std::string() : nativePath(std::string(path));
}

}  // namespace platform
}  // namespace bg
