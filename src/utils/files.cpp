// Opening and removing files.
#include <cstdio>

#include "kqbridge/utils.h"
#include "platform/path.h"

namespace bg {

FILE* openFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return fopen(platform::nativePath(path).c_str(), mode);
}

}  // namespace bg
